#!/usr/bin/env bash
# The example job: builds segmenter, trains a model on example subjects, turns the
# training target into a model folder, segments each example test subject and prints
# the Dice overlap of each label with the subject's reference labels.
#
# Everything it writes goes to build/example (made afresh). The number of training
# subjects and of auto-context iterations can be changed through EXAMPLE_SUBJECTS
# (1 to 10, the first ones by name; default all 10) and EXAMPLE_ITERATIONS (1 to 20,
# default 3). A step that fails (training, model script, segmentation, Dice) is named
# with the last lines of its log, and the job ends with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

subjects=${EXAMPLE_SUBJECTS:-10}
iterations=${EXAMPLE_ITERATIONS:-3}
# Whole numbers in range only, checked as text so that no value reaches the shell's arithmetic.
if ! [[ $subjects =~ ^([1-9]|10)$ ]]; then
  echo "EXAMPLE_SUBJECTS must be a whole number from 1 to 10, not '$subjects'" >&2
  exit 1
fi
if ! [[ $iterations =~ ^([1-9]|1[0-9]|20)$ ]]; then
  echo "EXAMPLE_ITERATIONS must be a whole number from 1 to 20, not '$iterations'" >&2
  exit 1
fi

start=$(date +%s)
bash scripts/ensure_packages.sh cmake ninja-build g++ libfreeimage-dev python3 python3-numpy python3-nibabel
# A fresh build folder is configured without the tests; an existing one keeps its options.
if [ -f build/release/CMakeCache.txt ]; then
  cmake -S . -B build/release > /dev/null
else
  cmake -S . -B build/release -G Ninja -DSEGMENTER_TESTS=OFF > /dev/null
fi
cmake --build build/release -j "$(nproc)" --target segmenter
segmenter=$root/build/release/app/segmenter
data=$root/example/hippocampus

work=$root/build/example
rm -rf "$work"
mkdir -p "$work/train" "$work/segmented"

# Runs a command in $work with its output in the log file $2; when it fails, names the
# step $1, shows the log's last lines and ends the job.
step() {
  local name=$1 log=$2
  shift 2
  local status=0
  (cd "$work" && "$@") > "$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "example job: $name failed (status $status); last lines of ${log#"$root"/}:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
}

mapfile -t headers < <(ls "$data/train"/*.brain.hdr | sort | head -n "$subjects")
for header in "${headers[@]}"; do
  name=$(basename "$header" .brain.hdr)
  cp "$data/train/$name".brain.hdr "$data/train/$name".brain.img \
     "$data/train/$name".label.hdr "$data/train/$name".label.img "$work/train/"
done
echo "training on ${#headers[@]} subjects, $iterations auto-context iteration(s) (log: build/example/training.log)"
t0=$(date +%s)
step training "$work/training.log" "$segmenter" -r 1 -n 2 -t "$iterations" train target
echo "training done in $(( $(date +%s) - t0 )) s"

step "model script" "$work/model.log" bash "$root/scripts/make_model_folder.sh" target model
cat "$work/model.log"

for header in "$data/test"/*.brain.hdr; do
  name=$(basename "$header" .brain.hdr)
  echo "segmenting $name (log: build/example/segmented/$name.log)"
  step "segmentation of $name" "$work/segmented/$name.log" "$segmenter" -m model "$header" "segmented/$name.img"
  step "dice of $name" "$work/segmented/$name.dice.log" \
    /usr/bin/python3 "$root/scripts/dice.py" "segmented/$name.hdr" "$data/test/$name.label.hdr"
  cat "$work/segmented/$name.dice.log"
done
echo "example job done in $(( $(date +%s) - start )) s"

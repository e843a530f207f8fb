#!/usr/bin/env bash
# The example job: builds segmenter, trains a model on example subjects, turns the
# training target into a model folder, segments each example test subject and prints
# the Dice overlap of each label with the subject's reference labels.
#
# Everything it writes goes to build/example (made afresh). The number of training
# subjects and of auto-context iterations can be changed through EXAMPLE_SUBJECTS
# (1 to 10, the first ones by name; default all 10) and EXAMPLE_ITERATIONS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

subjects=${EXAMPLE_SUBJECTS:-10}
iterations=${EXAMPLE_ITERATIONS:-3}

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
mapfile -t headers < <(ls "$data/train"/*.brain.hdr | sort | head -n "$subjects")
for header in "${headers[@]}"; do
  name=$(basename "$header" .brain.hdr)
  cp "$data/train/$name".brain.hdr "$data/train/$name".brain.img \
     "$data/train/$name".label.hdr "$data/train/$name".label.img "$work/train/"
done
echo "training on ${#headers[@]} subjects, $iterations auto-context iteration(s) (log: build/example/training.log)"
t0=$(date +%s)
(cd "$work" && "$segmenter" -r 1 -n 2 -t "$iterations" train target > training.log)
echo "training done in $(( $(date +%s) - t0 )) s"

bash scripts/make_model_folder.sh "$work/target" "$work/model"

for header in "$data/test"/*.brain.hdr; do
  name=$(basename "$header" .brain.hdr)
  echo "segmenting $name (log: build/example/segmented/$name.log)"
  (cd "$work" && "$segmenter" -m model "$header" "segmented/$name.img" > "segmented/$name.log")
  /usr/bin/python3 scripts/dice.py "$work/segmented/$name.hdr" "$data/test/$name.label.hdr"
done
echo "example job done in $(( $(date +%s) - start )) s"

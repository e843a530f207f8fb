#!/usr/bin/env bash
# Benchmark of both roads: whole-head subjects (5 training, 1 test, 1 mm, written by
# bench/wholehead/make_subjects.py) and the hippocampus example. For each step it prints
# wall time, CPU time, their ratio (cores busy on average), peak memory and the worker
# count.
#   bash scripts/bench.sh [--example-only]
# SEGMENTER_WORKERS=N sets the worker count (default: one per hardware thread).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure_packages.sh cmake ninja-build g++ libfreeimage-dev time \
  python3 python3-numpy python3-scipy python3-nibabel
# A build folder of its own, so that the tests of build/release stay configured.
cmake -S . -B build/bench-release -G Ninja -DSEGMENTER_TESTS=OFF > /dev/null
cmake --build build/bench-release -j "$(nproc)" --target segmenter > /dev/null
exe=$PWD/build/bench-release/app/segmenter
work=$PWD/build/bench
mkdir -p "$work"
workers=${SEGMENTER_WORKERS:-$(nproc)}
echo "workers: $workers ($(nproc) hardware threads)"

# Runs one step under /usr/bin/time and prints its figures; the program's own output
# goes to $work/<step>.log.
step() {
  local name=$1
  shift
  local log=$work/$name.log
  if ! /usr/bin/time -v -o "$work/$name.time" "$@" > "$log" 2>&1; then
    echo "$name failed; see $log" >&2
    tail -5 "$log" >&2
    exit 1
  fi
  awk -v name="$name" -F': ' '
    /Elapsed \(wall clock\)/ { wall = $2 }
    /User time/ { user = $2 }
    /System time/ { sys = $2 }
    /Maximum resident set size/ { rss = $2 }
    END {
      # The wall time reads [h:]m:ss.ss; its seconds give the CPU/wall ratio (the
      # number of cores busy on average).
      n = split(wall, part, ":")
      seconds = 0
      for (i = 1; i <= n; ++i) seconds = seconds * 60 + part[i]
      ratio = seconds > 0 ? (user + sys) / seconds : 0
      printf "%-28s wall %10s   cpu %9.1f s   cpu/wall %5.2f   peak %8.1f MB\n", name, wall, user + sys, ratio,
             rss / 1024
    }
  ' "$work/$name.time"
}

road() {
  local name=$1 train=$2 test=$3 structures=$4
  rm -rf "$work/$name-target" "$work/$name-model"
  step "$name: train" "$exe" -r 1 -n "$structures" "$train" "$work/$name-target"
  bash scripts/make_model_folder.sh "$work/$name-target" "$work/$name-model" > /dev/null
  for subject in "$test"/*.brain.hdr; do
    local base
    base=$(basename "$subject" .brain.hdr)
    step "$name: segment $base" "$exe" -m "$work/$name-model" "$subject" "$work/$name-$base.img"
  done
}

road example example/hippocampus/train example/hippocampus/test 2
if [ "${1:-}" != "--example-only" ]; then
  if ! ls "$work"/wholehead/test/*.brain.hdr > /dev/null 2>&1; then
    /usr/bin/python3 bench/wholehead/make_subjects.py "$work/wholehead" --count 5 --test 1 > /dev/null
  fi
  road wholehead "$work/wholehead/train" "$work/wholehead/test" 12
fi

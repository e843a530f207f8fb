#!/usr/bin/env bash
# Builds three configurations, one after another, and runs the tests in each:
#   build/release  the normal build: every test;
#   build/asan     address and undefined-behaviour sanitizers: every test;
#   build/tsan     thread sanitizer: the tests of the folders whose code runs on the
#                  workers (platform, pbt, features, models) and the default road
#                  (training, model folder, segmentation with one and four workers).
# Any thread-sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure_packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev libfreeimage-dev \
  python3 python3-numpy python3-scipy python3-nibabel python3-pil libtiff-tools
jobs=$(nproc)
for config in release asan tsan; do
  address=OFF
  thread=OFF
  [ "$config" = asan ] && address=ON
  [ "$config" = tsan ] && thread=ON
  echo "=== $config build ==="
  cmake -S . -B "build/$config" -G Ninja -DSEGMENTER_SANITIZE=$address -DSEGMENTER_SANITIZE_THREAD=$thread \
    -DSEGMENTER_TESTS=ON > /dev/null
  if [ "$config" = tsan ]; then
    # Only what the tests below need.
    cmake --build build/tsan -j "$jobs" --target segmenter platform_tests pbt_tests features_tests models_tests \
      app_tests
  else
    cmake --build "build/$config" -j "$jobs"
  fi
  echo "=== $config tests ==="
  if [ "$config" != tsan ]; then
    ctest --test-dir "build/$config" --output-on-failure -j "$jobs"
    continue
  fi
  # A report ends the process that made it with status 66 (the segmenter runs of the
  # tests included) and leaves a file tsan-report.<pid> behind: a report that a test
  # did not notice still fails the run below.
  reports=$PWD/build/tsan/tsan-report
  rm -f "$reports".*
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 log_path=$reports"
  # The default road takes longest; it runs beside the folders' tests, from the build
  # folder as ctest runs it, with its output shown when it ends.
  (cd build/tsan && tests/app/app_tests --gtest_filter='DefaultRoad.*' > road.log 2>&1) &
  road=$!
  status=0
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L '^(platform|pbt|features|models)$' || status=1
  wait "$road" || status=1
  cat build/tsan/road.log
  unset TSAN_OPTIONS
  if compgen -G "$reports.*" > /dev/null; then
    echo "thread-sanitizer reports:" >&2
    cat "$reports".* >&2
    status=1
  fi
  [ "$status" -eq 0 ] || exit 1
done

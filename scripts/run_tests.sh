#!/usr/bin/env bash
# Builds three configurations, one after another, and runs the tests in each:
#   build/release  the normal build: every test;
#   build/asan     address and undefined-behaviour sanitizers: every test;
#   build/tsan     thread sanitizer: the tests of the folders whose code runs on the
#                  workers (platform, pbt, features, models) and the default road
#                  (DefaultRoad_test: training, model folder and segmentation with one
#                  and with four workers).
# Any thread-sanitizer report fails the run.
#
# The test runs leave most cores idle for long stretches, so each one runs in the
# background beside the next build, its output kept in a log under build/ and shown
# when it is collected. The run ends with status 1 when any of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure_packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev libfreeimage-dev \
  python3 python3-numpy python3-scipy python3-nibabel python3-pil libtiff-tools
jobs=$(nproc)
# A run that stops early (a build error) leaves no test run behind.
trap 'kill $(jobs -p) 2> /dev/null || true' EXIT

# configure <config> <address sanitizer ON/OFF> <thread sanitizer ON/OFF>
configure() {
  echo "=== $1 build ==="
  cmake -S . -B "build/$1" -G Ninja -DSEGMENTER_SANITIZE="$2" -DSEGMENTER_SANITIZE_THREAD="$3" \
    -DSEGMENTER_TESTS=ON > /dev/null
}

# start <name> <command...>: runs the command in the background, output in build/<name>.log.
declare -A running
start() {
  local name=$1
  shift
  "$@" > "build/$name.log" 2>&1 &
  running[$name]=$!
}
# collect <name>: waits for a run started above and shows its output; notes a failure.
failed=()
collect() {
  local name=$1 status=0
  wait "${running[$name]}" || status=$?
  echo "=== $name ==="
  cat "build/$name.log"
  [ "$status" -eq 0 ] || failed+=("$name")
}

configure release OFF OFF
cmake --build build/release -j "$jobs"
start release-tests ctest --test-dir build/release --output-on-failure -j "$jobs"

configure tsan OFF ON
# Only what the tests below need.
cmake --build build/tsan -j "$jobs" --target segmenter platform_tests pbt_tests features_tests models_tests app_tests
# A report ends the process that made it with status 66 (the segmenter runs of the tests
# included) and leaves a file tsan-report.<pid> behind, so that a report no test noticed
# still fails the run.
tsan_reports=$PWD/build/tsan/tsan-report
rm -f "$tsan_reports".*
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 log_path=$tsan_reports"
# The default road takes minutes on one core under the thread sanitizer; it starts first,
# from the build folder as ctest runs it.
start tsan-road bash -c 'cd build/tsan && exec tests/app/app_tests --gtest_filter="DefaultRoad.*"'
start tsan-tests ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L '^(platform|pbt|features|models)$'
unset TSAN_OPTIONS

configure asan ON OFF
cmake --build build/asan -j "$jobs"
start asan-tests ctest --test-dir build/asan --output-on-failure -j "$jobs"

collect release-tests
collect tsan-tests
collect tsan-road
# A filter that matches no test would pass without running anything.
grep -q '^\[  PASSED  \] 1 test' build/tsan-road.log || failed+=("tsan-road (no test ran)")
if compgen -G "$tsan_reports.*" > /dev/null; then
  echo "=== thread-sanitizer reports ==="
  cat "$tsan_reports".*
  failed+=("thread-sanitizer reports")
fi
collect asan-tests
trap - EXIT
if [ ${#failed[@]} -gt 0 ]; then
  printf 'failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "all tests passed"

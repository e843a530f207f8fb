#!/usr/bin/env bash
# Builds the normal and the sanitizer configuration and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure_packages.sh cmake ninja-build g++ libgtest-dev libgmock-dev libfreeimage-dev \
  python3 python3-numpy python3-scipy python3-nibabel python3-pil libtiff-tools
jobs=$(nproc)
for config in release asan; do
  sanitize=OFF
  [ "$config" = asan ] && sanitize=ON
  echo "=== $config build ==="
  cmake -S . -B "build/$config" -G Ninja -DSEGMENTER_SANITIZE=$sanitize -DSEGMENTER_TESTS=ON > /dev/null
  cmake --build "build/$config" -j "$jobs"
  echo "=== $config tests ==="
  ctest --test-dir "build/$config" --output-on-failure -j "$jobs"
done

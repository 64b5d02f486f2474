#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole test suite
# twice: a build with warnings as errors, and a build under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

echo "== build (warnings as errors)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMISAVE_WERROR=ON > /dev/null
ninja -C build -j"$jobs"
echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMISAVE_WERROR=ON \
  -DLUMISAVE_SANITIZE=ON -DLUMISAVE_BENCH=OFF > /dev/null
ninja -C build-asan -j"$jobs"
echo "== tests under sanitizers"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs")

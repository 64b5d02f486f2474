#!/usr/bin/env bash
# Builds one libFuzzer target per structure walker with clang (ASan + UBSan) in its own
# build folder and runs each for SECONDS (default 20) over the seed corpus.
# Usage: fuzz/run.sh [SECONDS]   (BUILD=folder to choose the build folder)
# Exits 77 (skipped) when clang or its fuzzer runtime is missing, 1 on a finding.
set -euo pipefail
seconds=${1:-20}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD:-$root/build-fuzz}
source "$here/common.sh"
sources=("$root"/formats/*.cpp)
walker_seeds

# The walkers once, then one small target per walker linked against them.
mkdir -p "$build/obj"
objects=()
for source in "${sources[@]}"; do
  object=$build/obj/$(basename "${source%.cpp}").o
  "$cxx" "${flags[@]}" -c "$source" -o "$object"
  objects+=("$object")
done

status=0
for pair in "${walkers[@]}"; do
  target=${pair%%:*}
  exe=$build/${target}_fuzzer
  "$cxx" "${flags[@]}" -DWALKER="${pair#*:}" "$here/walker_fuzzer.cpp" "${objects[@]}" -o "$exe"
  corpus=$build/corpus/$target
  mkdir -p "$corpus" "$build/findings/$target"
  echo "fuzz: $target for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -max_len=65536 -timeout=10 -print_final_stats=0 \
       -artifact_prefix="$build/findings/$target/" "$corpus" "$build/seeds/$target" \
       > "$build/$target.log" 2>&1; then
    echo "fuzz: $target found a fault; see $build/$target.log and $build/findings/$target/"
    grep -A15 -m1 -E "ERROR|runtime error|deadly signal" "$build/$target.log" || tail -15 "$build/$target.log"
    status=1
  fi
done
exit $status

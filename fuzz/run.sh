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
cxx=${CXX_FUZZ:-clang++}

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found; skipped (install clang and libclang-rt-14-dev)"
  exit 77
fi
mkdir -p "$build"
probe=$build/probe.cpp
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$probe"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe" -o "$build/probe" 2>/dev/null; then
  echo "fuzz: $cxx has no fuzzer runtime; skipped (install libclang-rt-14-dev)"
  exit 77
fi

flags=(-std=c++20 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer -I"$root")
sources=("$root"/formats/*.cpp)
declare -A walkers=([png]=WalkPng [gif]=WalkGif [tiff]=WalkTiff [tiffraw]=WalkTiffRaw
                    [isobmff]=WalkIsoBmff [ts]=WalkTransportStream [matroska]=WalkMatroska
                    [jpeg]=WalkJpeg [webp]=WalkWebp [raf]=WalkRaf)

# Made again when a walker has no seeds yet (a folder made before the walker was added).
for target in "${!walkers[@]}"; do
  if [ ! -d "$build/seeds/$target" ]; then
    rm -rf "$build/seeds" "$build/seeds.tmp"
    bash "$here/make-corpus.sh" "$build/seeds.tmp" && mv "$build/seeds.tmp" "$build/seeds"
    break
  fi
done

# The walkers once, then one small target per walker linked against them.
mkdir -p "$build/obj"
objects=()
for source in "${sources[@]}"; do
  object=$build/obj/$(basename "${source%.cpp}").o
  "$cxx" "${flags[@]}" -c "$source" -o "$object"
  objects+=("$object")
done

status=0
for target in png gif tiff tiffraw isobmff ts matroska jpeg webp raf; do
  exe=$build/${target}_fuzzer
  "$cxx" "${flags[@]}" -DWALKER="${walkers[$target]}" "$here/walker_fuzzer.cpp" "${objects[@]}" -o "$exe"
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

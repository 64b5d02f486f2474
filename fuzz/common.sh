# Sourced by the fuzz scripts, with `here` (this folder), `root` and `build` set: finds clang
# and its fuzzer runtime (exit 77, skipped, when either is missing), sets `cxx` and the
# compile `flags` of a fuzz target, and defines walker_seeds.

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

# The walkers' fuzz targets in the order they run, each TARGET:WALKER_FUNCTION.
walkers=(png:WalkPng gif:WalkGif tiff:WalkTiff tiffraw:WalkTiffRaw isobmff:WalkIsoBmff
         ts:WalkTransportStream matroska:WalkMatroska jpeg:WalkJpeg webp:WalkWebp raf:WalkRaf)

# Makes the walkers' seed corpus in $build/seeds/<target>/ (fuzz/make-corpus.sh), again when
# a walker has no seeds yet (a folder made before the walker was added).
walker_seeds() {
  local pair
  for pair in "${walkers[@]}"; do
    if [ ! -d "$build/seeds/${pair%%:*}" ]; then
      rm -rf "$build/seeds" "$build/seeds.tmp"
      bash "$here/make-corpus.sh" "$build/seeds.tmp" && mv "$build/seeds.tmp" "$build/seeds"
      return
    fi
  done
}

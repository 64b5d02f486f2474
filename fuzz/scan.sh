#!/usr/bin/env bash
# Builds the whole-scan fuzzer (fuzz/scan_fuzzer.cpp) with clang (ASan + UBSan) in its own
# build folder and runs it for SECONDS (default 600) over the walkers' seed corpus. Longer
# than the suite can afford, so it is run by hand: see the README.
# Usage: fuzz/scan.sh [SECONDS]   (BUILD=folder to choose the build folder)
# Exits 77 (skipped) when clang or its fuzzer runtime is missing, 1 on a finding.
set -euo pipefail
seconds=${1:-600}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD:-$root/build-fuzz-scan}
cxx=${CXX_FUZZ:-clang++}

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found; skipped (install clang and libclang-rt-14-dev)"
  exit 77
fi
mkdir -p "$build/obj"
flags=(-std=c++20 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer -I"$root"
       $(pkg-config --cflags mount blkid))
objects=()
for source in "$root"/{base,platform,formats,carvers,scan}/*.cpp; do
  object=$build/obj/$(basename "$(dirname "$source")")_$(basename "${source%.cpp}").o
  if [ ! "$object" -nt "$source" ]; then
    "$cxx" "${flags[@]}" -c "$source" -o "$object"
  fi
  objects+=("$object")
done
exe=$build/scan_fuzzer
"$cxx" "${flags[@]}" "$here/scan_fuzzer.cpp" "${objects[@]}" $(pkg-config --libs mount blkid) -pthread -o "$exe"

if [ ! -d "$build/seeds" ]; then
  bash "$here/make-corpus.sh" "$build/seeds.tmp" && mv "$build/seeds.tmp" "$build/seeds"
fi
# A small file of each older type: its signature, and a size field or an end marker.
if [ ! -d "$build/seeds/types" ]; then
  python3 - "$build/seeds/types" <<'PY'
import os, struct, sys
out = sys.argv[1]
os.makedirs(out, exist_ok=True)
def sample(head, at=()):
    b = bytearray((0x60 + i % 23) for i in range(2048))
    for off, data in [(0, head)] + list(at):
        b[off:off + len(data)] = data
    return bytes(b)
le = lambda v: struct.pack('<I', v)
seeds = {
    'jpeg': sample(b'\xff\xd8\xff\xe1', [(2046, b'\xff\xd9')]),
    'jpeg0': sample(b'\xff\xd8\xff\xe0', [(2046, b'\xff\xd9')]),
    'doc': sample(b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1', [(48, le(0)), (544, b'\x0e\x00bjbj')]),
    'excel': sample(b'\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1', [(48, le(2)), (544, b'\xe2\x00\x00\x00\x5c\x00\x70')]),
    'qbb': sample(b'\x45\x86\x00\x00'),
    'pst': sample(b'!BDN', [(168, le(2048))]),
    'bmp': sample(b'BM', [(2, le(2048))]),
    'avi': sample(b'RIFF' + le(2040) + b'AVI '),
    'dbx': sample(b'\xcf\xad\x12\xfe', [(36, le(2048))]),
    'office': sample(b'\x00\x01\x00\x00Standard Jet DB'),
    'coreldraw': sample(b'RIFF\x00\x00\x00\x00CDRA'),
    'pdf': sample(b'%PDF-1.4', [(2042, b'%%EOF\n')]),
    'mcd': sample(b'', [(14, b'VectorWorks'), (2039, b'Mp\xcc\x00\x01\x00\x00\x00T')]),
    'progress': sample(b'\x1a\x00\x00', [(40, b'%'), (43, b'\xff')]),
    'wav': sample(b'RIFF' + le(2040) + b'WAVEfmt '),
    'mp3': sample(b'ID3\x03\x00\x00\x00\x00\x00\x10'),
}
for name, data in seeds.items():
    open(os.path.join(out, name), 'wb').write(data)
# All of them in one image, a sector apart.
open(os.path.join(out, 'all'), 'wb').write(b''.join(d + bytes(512) for d in seeds.values()))
PY
fi
mkdir -p "$build/corpus" "$build/findings"
echo "fuzz: the whole scan for ${seconds}s"
if ! "$exe" -max_total_time="$seconds" -max_len=262144 -timeout=20 -print_final_stats=1 \
     -artifact_prefix="$build/findings/" "$build/corpus" "$build"/seeds/* > "$build/scan.log" 2>&1; then
  echo "fuzz: the scan fuzzer found a fault; see $build/scan.log and $build/findings/"
  grep -A25 -m1 -E "ERROR|runtime error|deadly signal|Timeout" "$build/scan.log" || tail -25 "$build/scan.log"
  exit 1
fi
tail -12 "$build/scan.log"

#!/usr/bin/env bash
# A build against an earlier one: the same commands with both binaries,
# taken in turn, medians of RUNS (default 5) on the 1 GiB images that
# bench/scan.sh and bench/all-types.sh make (run them first), in the page
# cache. Every type is timed on the image without signatures, so that the
# time is the scan's and not that of writing chance matches.
# Usage: bench/against-build.sh EARLIER_LUMISAVE [BUILD_DIR]
set -euo pipefail
earlier=$(realpath "$1")
shift
source "$(dirname "$0")/common.sh"
out=/dev/shm/lumisave-against
trap 'rm -rf "$out"' EXIT
for img in noise photos no-signatures; do
  [ -f "$work/$img.img" ] || { echo "run bench/scan.sh first: $work/$img.img is missing" >&2; exit 1; }
done
cat "$work/noise.img" "$work/photos.img" "$work/no-signatures.img" > /dev/null
types="--type qbb --type pst --type dbx --type office --type bmp --type access --type coredraw"
types+=" --type avi --type doc --type excel --type pdf --type mcd --type progress"
clean="rm -rf $out; mkdir -p $out; truncate -s 1G $out/target.img"
for run in \
  "recover, no signatures|recover --source $work/noise.img --out $out/L --yes" \
  "recover, photos end to end|recover --source $work/photos.img --out $out/L --yes" \
  "recover, every older type|recover --source $work/no-signatures.img --out $out/L $types --yes" \
  "survey of 1 GiB|survey --source $work/noise.img" \
  "clone of 1 GiB onto a file|clone --source $work/noise.img --target $out/target.img --yes"; do
  name=${run%%|*}
  args=${run#*|}
  compare "$name (new vs earlier)" "$lumisave $args" "$earlier $args" "$clean"
done

#!/usr/bin/env bash
# Recovery scan speed with every file type ticked, on 1 GiB images in the
# page cache with no signature at any sector start, against
# `cat IMAGE > /dev/null` (target: within 1.3 x).
#   (a) random bytes without any byte a signature of the scan starts with
#       (00 1A 21 25 42 45 52 CF D0 FF): every row but MCD is skipped by the
#       first-byte pre-filter
#   (b) zero bytes: the OFFICE and ACCESS(MDB) rows, whose signatures start
#       with 00, and MCD are called for every sector
# Outputs go to /dev/shm. Usage: bench/all-types.sh [BUILD_DIR]   (RUNS=5 by default)
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=/dev/shm/lumisave-bench-types
trap 'rm -rf "$out"' EXIT

if [ ! -f "$work/no-signatures.img" ]; then
  head -c 1G /dev/urandom | LC_ALL=C tr '\000\032\041\045\102\105\122\317\320\377' '\001' \
    > "$work/no-signatures.img"
fi
if [ ! -f "$work/zeros.img" ]; then
  head -c 1G /dev/zero > "$work/zeros.img"
fi
cat "$work/no-signatures.img" "$work/zeros.img" > /dev/null  # into the page cache
echo "images: $work (1 GiB each); outputs on /dev/shm"

types=""
for t in jpeg qbb pst dbx office wav bmp jpeg0 access mp3 coredraw avi doc excel pdf mcd progress; do
  types+=" --type $t"
done

for image in no-signatures zeros; do
  compare "($image) every type vs cat" \
    "$lumisave recover --source $work/$image.img --out $out/L $types --yes" \
    "cat $work/$image.img > /dev/null" \
    "rm -rf $out; mkdir -p $out"
  found=$(find "$out" -type f ! -name "report*.xml" | wc -l)
  if [ "$found" -ne 0 ]; then
    echo "all-types: $found files found in $image.img, which holds no signature" >&2
    exit 1
  fi
done

#!/usr/bin/env bash
# The photo and video types (--type photos) on 1 GiB images in the page cache:
#   (a) a card full of JPEG photos (bench/scan.sh's photos.img): against the
#       default scan (target: within 1.1 x); the new types find nothing there
#   (b) random bytes (noise.img): against `cat IMAGE > /dev/null` (target:
#       within 1.2 x); the new types find nothing there
#   (c) every type (--type all) on bytes with no signature at any sector start
#       (all-types.sh's no-signatures.img): against cat (target: within 1.3 x)
# and the peak memory of each run (target: under 32 MiB). Alternating runs,
# medians. Outputs go to /dev/shm.
# Usage: bench/photos.sh [BUILD_DIR]   (RUNS=5 by default; run bench/scan.sh
# and bench/all-types.sh once first to make the images)
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=/dev/shm/lumisave-bench-photos
trap 'rm -rf "$out"' EXIT

for image in photos noise no-signatures; do
  if [ ! -f "$work/$image.img" ]; then
    echo "photos: $work/$image.img is missing: run bench/scan.sh and bench/all-types.sh first" >&2
    exit 1
  fi
done
cat "$work/photos.img" "$work/noise.img" "$work/no-signatures.img" > /dev/null  # page cache
echo "images: $work (1 GiB each); outputs on /dev/shm"

new_folders="PNG GIF TIFF RAW HEIC VIDEO JPEGX WEBP"
# Fails when a run left any file in the new types' folders under $1.
no_junk() {  # OUT NAME
  local count=0 f
  for f in $new_folders; do
    [ -d "$1/$f" ] && count=$((count + $(find "$1/$f" -type f | wc -l)))
  done
  echo "files in the new types' folders ($2): $count"
  if [ "$count" -ne 0 ]; then
    echo "photos: $count junk files in $2" >&2
    exit 1
  fi
}

compare "(a) photos card: photos vs default" \
  "$lumisave recover --source $work/photos.img --out $out/a --type photos --yes" \
  "$lumisave recover --source $work/photos.img --out $out/d --yes" \
  "rm -rf $out; mkdir -p $out"
no_junk "$out/a" "photos card"

compare "(b) random: photos vs cat" \
  "$lumisave recover --source $work/noise.img --out $out/b --type photos --yes" \
  "cat $work/noise.img > /dev/null" \
  "rm -rf $out; mkdir -p $out"
no_junk "$out/b" "random bytes"
# What the photo types add on the same image, and the fixed cost of a recover
# (start-up, drive list, folders) against which the ratios to cat are read.
compare "(b') random: photos vs default" \
  "$lumisave recover --source $work/noise.img --out $out/b --type photos --yes" \
  "$lumisave recover --source $work/noise.img --out $out/d --yes" \
  "rm -rf $out; mkdir -p $out"
head -c 1M "$work/noise.img" > "$out.tiny"
times=()
for ((i = 0; i < ${RUNS:-5}; i++)); do
  rm -rf "$out"; mkdir -p "$out"
  times+=("$(wall "$lumisave recover --source $out.tiny --out $out/t --type photos --yes")")
done
rm -f "$out.tiny"
printf 'fixed cost of a recover (1 MiB image): %.3f s (median)\n' "$(printf '%s\n' "${times[@]}" | median)"

compare "(c) no signatures: all vs cat" \
  "$lumisave recover --source $work/no-signatures.img --out $out/c --type all --yes" \
  "cat $work/no-signatures.img > /dev/null" \
  "rm -rf $out; mkdir -p $out"
found=$(find "$out/c" -type f ! -name "report*.xml" | wc -l)
echo "files found (no signatures): $found"
[ "$found" -eq 0 ] || { echo "photos: $found files in no-signatures.img" >&2; exit 1; }

for run in "a photos.img --type photos" "b noise.img --type photos" "c no-signatures.img --type all"; do
  set -- $run
  rm -rf "$out"; mkdir -p "$out"
  echo "peak memory ($1): $(peak_kib "$lumisave recover --source $work/$2 --out $out/$1 $3 $4 --yes") KiB"
done

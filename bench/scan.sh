#!/usr/bin/env bash
# Recovery scan speed and memory on 1 GiB images in the page cache.
#   (a) no signature at any sector start, against `cat IMAGE > /dev/null`
#   (b) photos of 1.5-4 MB laid end to end, against `cp IMAGE /dev/shm/DIR/`
# Outputs go to /dev/shm. Usage: bench/scan.sh [BUILD_DIR]   (RUNS=5 by default)
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=/dev/shm/lumisave-bench
trap 'rm -rf "$out"' EXIT

# (a) random bytes: no picture signature at any sector start.
if [ ! -f "$work/noise.img" ]; then
  head -c 1G /dev/urandom > "$work/noise.img"
fi

# (b) real EXIF photos (with thumbnails) of 1.5-4 MB, each padded to whole
# sectors, repeated end to end up to 1 GiB.
if [ ! -f "$work/photos.img" ]; then
  tmp=$(mktemp -d)
  for spec in "1 1500x1150 93" "2 2200x1650 90" "3 2400x1800 89" "4 2000x1500 94" "5 2100x1580 90"; do
    set -- $spec
    convert -seed "$1" -size 160x120 plasma:fractal "$tmp/thumb.jpg"
    convert -seed "$1" -size "$2" plasma:fractal +noise Gaussian -quality "$3" "$tmp/p$1.jpg"
    exiftool -q -overwrite_original -all= "$tmp/p$1.jpg"
    exiftool -q -overwrite_original "-ThumbnailImage<=$tmp/thumb.jpg" -Make=Bench "$tmp/p$1.jpg"
    size=$(stat -c %s "$tmp/p$1.jpg")
    truncate -s $(( (size + 511) / 512 * 512 )) "$tmp/p$1.jpg"
  done
  ls -l "$tmp"/p*.jpg | awk '{ printf "photo sizes: %s\n", $5 }'
  : > "$work/photos.img"
  while [ "$(stat -c %s "$work/photos.img")" -lt $((1 << 30)) ]; do
    cat "$tmp"/p1.jpg "$tmp"/p2.jpg "$tmp"/p3.jpg "$tmp"/p4.jpg "$tmp"/p5.jpg >> "$work/photos.img"
  done
  truncate -s 1G "$work/photos.img"
  rm -rf "$tmp"
fi

cat "$work/noise.img" "$work/photos.img" > /dev/null  # into the page cache
echo "images: $work (1 GiB each); outputs on /dev/shm"

compare "(a) no signatures vs cat" \
  "$lumisave recover --source $work/noise.img --out $out/a --yes" \
  "cat $work/noise.img > /dev/null" \
  "rm -rf $out; mkdir -p $out"

compare "(b) photos end to end vs cp" \
  "$lumisave recover --source $work/photos.img --out $out/b --yes" \
  "cp $work/photos.img $out/copy/" \
  "rm -rf $out; mkdir -p $out/copy"

rm -rf "$out"; mkdir -p "$out"
echo "peak memory (a): $(peak_kib "$lumisave recover --source $work/noise.img --out $out/a --yes") KiB"
rm -rf "$out"; mkdir -p "$out"
echo "peak memory (b): $(peak_kib "$lumisave recover --source $work/photos.img --out $out/b --yes") KiB"
echo "files recovered in (b): $(find "$out/b" -type f ! -name "report*.xml" | wc -l)"

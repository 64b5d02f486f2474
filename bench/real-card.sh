#!/usr/bin/env bash
# A scan as a user with a real card meets it: 256 MiB card images behind a
# loop device whose reads are throttled to 40 MiB/s (a card in a USB reader,
# through the cgroup v1 blkio throttle), the page cache dropped before every
# run. For each card, `recover` and `dd if=DEV of=/dev/null bs=1M
# iflag=direct` run in turn; the medians of their wall times and the bytes
# the device served to recover (blkio.throttle.io_service_bytes) are printed.
#   cards: EXIF photos of 1.5-4 MB end to end; random bytes (no signature,
#   also with --type all); a few videos.
# Root only. Usage: bench/real-card.sh [BUILD_DIR]   (RUNS=3, RATE=41943040,
# CARDS="photos random all videos sizes": sizes compares dd read sizes)
set -euo pipefail
source "$(dirname "$0")/common.sh"
[ "$(id -u)" = 0 ] || { echo "real-card.sh: needs root (loop devices, cgroups)"; exit 1; }
blkio=/sys/fs/cgroup/blkio
[ -w "$blkio" ] || { echo "real-card.sh: no cgroup v1 blkio at $blkio"; exit 1; }
runs=${RUNS:-3}
rate=${RATE:-41943040}
size=$((256 << 20))
out=/dev/shm/lumisave-real-card
group=$blkio/lumisave-real-card
loop=
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2> /dev/null || true
  rmdir "$group" 2> /dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
mkdir -p "$group"

# EXIF photos (with thumbnails) of 1.5-4 MB, padded to whole sectors.
make_photos() {  # FILE
  local tmp shape
  tmp=$(mktemp -d)
  for shape in "1 1500x1150 93" "2 2200x1650 90" "3 2400x1800 89" "4 2000x1500 94" "5 2100x1580 90"; do
    set -- $shape
    convert -seed "$1" -size 160x120 plasma:fractal "$tmp/thumb.jpg"
    convert -seed "$1" -size "$2" plasma:fractal +noise Gaussian -quality "$3" "$tmp/p$1.jpg"
    exiftool -q -overwrite_original -all= "$tmp/p$1.jpg"
    exiftool -q -overwrite_original "-ThumbnailImage<=$tmp/thumb.jpg" -Make=Bench "$tmp/p$1.jpg"
    truncate -s $(( ($(stat -c %s "$tmp/p$1.jpg") + 511) / 512 * 512 )) "$tmp/p$1.jpg"
  done
  : > "$1"
  while [ "$(stat -c %s "$1")" -lt "$size" ]; do cat "$tmp"/p[1-5].jpg >> "$1"; done
  truncate -s "$size" "$1"
  rm -rf "$tmp"
}

# A few videos of some MB each between random bytes.
make_videos() {  # FILE
  local tmp i
  tmp=$(mktemp -d)
  head -c "$size" /dev/urandom > "$1"
  for i in 1 2 3 4; do
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=1280x720:rate=25:duration=$((i * 4))" \
      -f lavfi -i "anoisesrc=d=$((i * 4))" -pix_fmt yuv420p -c:v libx264 -b:v 6M -shortest \
      "$tmp/v$i.mp4"
    dd if="$tmp/v$i.mp4" of="$1" bs=1M seek=$((i * 48)) conv=notrunc status=none
  done
  ls -l "$tmp"/v*.mp4 | awk '{ printf "video sizes: %s\n", $5 }'
  rm -rf "$tmp"
}

if [ ! -f "$work/card-photos.img" ] && [ -f "$work/photos.img" ]; then
  head -c "$size" "$work/photos.img" > "$work/card-photos.img"  # bench/scan.sh's photos
fi
[ -f "$work/card-photos.img" ] || make_photos "$work/card-photos.img"
[ -f "$work/card-random.img" ] || head -c "$size" /dev/urandom > "$work/card-random.img"
[ -f "$work/card-videos.img" ] || make_videos "$work/card-videos.img"

served() {  # MAJ:MIN -> bytes read so far through the cgroup
  awk -v d="$1" '$1 == d && $2 == "Read" { print $3 }' "$group/blkio.throttle.io_service_bytes"
}

# Runs a command line inside the throttled cgroup after dropping the caches;
# prints "SECONDS BYTES".
throttled() {  # DEV MAJ:MIN COMMAND
  local before after t0 t1
  sync
  echo 3 > /proc/sys/vm/drop_caches
  blockdev --flushbufs "$1"
  before=$(served "$2")
  t0=$(date +%s.%N)
  bash -c "echo \$\$ > $group/cgroup.procs; exec $3" > /dev/null 2>&1 || true
  t1=$(date +%s.%N)
  after=$(served "$2")
  echo "$(echo "$t1 - $t0" | bc -l) $(( ${after:-0} - ${before:-0} ))"
}

bench_card() {  # NAME IMAGE [RECOVER OPTIONS]
  local name=$1 image=$2 extra=${3:-} majmin i ours=() ref=() bytes=() r
  loop=$(losetup --find --show --read-only "$image")
  majmin=$(lsblk -dno MAJ:MIN "$loop" | tr -d ' ')
  echo "$majmin $rate" > "$group/blkio.throttle.read_bps_device"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$out"; mkdir -p "$out"
    r=$(throttled "$loop" "$majmin" "dd if=$loop of=/dev/null bs=1M iflag=direct")
    ref+=("${r% *}")
    rm -rf "$out"; mkdir -p "$out"
    r=$(throttled "$loop" "$majmin" "$lumisave recover --source $loop --out $out/r --yes $extra")
    ours+=("${r% *}")
    bytes+=("${r#* }")
  done
  local mo mr mb
  mo=$(printf '%s\n' "${ours[@]}" | median)
  mr=$(printf '%s\n' "${ref[@]}" | median)
  mb=$(printf '%s\n' "${bytes[@]}" | median)
  printf '%-28s recover %7.2f s  dd %7.2f s  wall ratio %5.2f  bytes read / card %5.3f  files %s  (median of %d)\n' \
    "$name" "$mo" "$mr" "$(echo "$mo / $mr" | bc -l)" "$(echo "$mb / $size" | bc -l)" \
    "$(find "$out" -type f ! -name "report*.xml" | wc -l)" "$runs"
  echo "$majmin 0" > "$group/blkio.throttle.read_bps_device"
  losetup -d "$loop"
  loop=
}

# What one read size gets from the throttled device: dd with direct reads of
# 256 KiB, 1 MiB and 4 MiB over the random card.
read_sizes() {
  local majmin bs i r t=()
  loop=$(losetup --find --show --read-only "$work/card-random.img")
  majmin=$(lsblk -dno MAJ:MIN "$loop" | tr -d ' ')
  echo "$majmin $rate" > "$group/blkio.throttle.read_bps_device"
  for bs in 256K 1M 4M; do
    t=()
    for ((i = 0; i < runs; i++)); do
      r=$(throttled "$loop" "$majmin" "dd if=$loop of=/dev/null bs=$bs iflag=direct")
      t+=("${r% *}")
    done
    printf 'dd bs=%-4s iflag=direct %7.2f s  (median of %d)\n' "$bs" \
      "$(printf '%s\n' "${t[@]}" | median)" "$runs"
  done
  echo "$majmin 0" > "$group/blkio.throttle.read_bps_device"
  losetup -d "$loop"
  loop=
}

echo "cards: $work/card-*.img (256 MiB each), throttled to $rate bytes/s"
for card in ${CARDS:-photos random all videos sizes}; do
  case $card in
    photos) bench_card "photos end to end" "$work/card-photos.img" ;;
    random) bench_card "random bytes" "$work/card-random.img" ;;
    all) bench_card "random bytes, --type all" "$work/card-random.img" "--type all" ;;
    videos) bench_card "videos, --type video" "$work/card-videos.img" "--type video" ;;
    sizes) read_sizes ;;
  esac
done

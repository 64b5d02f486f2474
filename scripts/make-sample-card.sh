#!/usr/bin/env bash
# Makes a sample SD card image the way a camera card looks: an MBR partition
# table with one FAT32 volume holding DCIM photos, some of them deleted
# afterwards, as when a user deleted them by mistake.
#
#   scripts/make-sample-card.sh CARD.img ORIGINALS_DIR
#
# ORIGINALS_DIR receives a copy of every photo put on the card, so that a
# recovery can be compared with them. Needs imagemagick, exiftool, cjpeg
# (libjpeg-turbo-progs), sfdisk, mkfs.fat and mtools (scripts/install-deps.sh).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 CARD.img ORIGINALS_DIR" >&2
  exit 2
fi
card=$1
originals=$2
mkdir -p "$originals"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# EXIF photos as cameras write them: FF D8 FF E1, an APP1 segment with a
# small embedded thumbnail (whose FF D9 lies near the start of the file),
# then the picture. Noise makes them large, as real photos are (1-2 MB).
exif_photo() {  # name seed width height quality
  local name=$1 seed=$2 w=$3 h=$4 q=$5
  convert -seed "$seed" -size "$((w / 10))x$((h / 10))" plasma:fractal "$work/thumb.jpg"
  convert -seed "$seed" -size "${w}x${h}" plasma:fractal -attenuate 0.6 +noise Gaussian \
    -quality "$q" "$work/$name"
  exiftool -q -overwrite_original -all= "$work/$name"
  exiftool -q -overwrite_original "-ThumbnailImage<=$work/thumb.jpg" -Make=Lumisave \
    -Model="Sample Camera" -DateTimeOriginal="2026:06:0$((seed % 9 + 1)) 10:00:00" "$work/$name"
}

# JFIF pictures (FF D8 FF E0), as editors and phones save them.
jfif_photo() {  # name seed width height quality
  local name=$1 seed=$2 w=$3 h=$4 q=$5
  convert -seed "$seed" -size "${w}x${h}" plasma:fractal "$work/src.ppm"
  cjpeg -quality "$q" -outfile "$work/$name" "$work/src.ppm"
}

exif_photo IMG_0001.JPG 11 1600 1200 90
exif_photo IMG_0002.JPG 12 1400 1050 88
exif_photo IMG_0003.JPG 13 1024 768 85
exif_photo IMG_0004.JPG 14 800 600 80
exif_photo IMG_0005.JPG 15 1800 1350 92
jfif_photo IMG_0006.JPG 16 1200 900 90
jfif_photo IMG_0007.JPG 17 640 480 85
jfif_photo IMG_0008.JPG 18 2000 1500 95

for f in "$work"/IMG_*.JPG; do
  header=$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')
  case "$header" in ffd8ffe1|ffd8ffe0) ;; *) echo "unexpected header $header in $f" >&2; exit 1 ;; esac
  cp "$f" "$originals/"
done

# A 64 MiB card: the volume starts at 1 MiB, as card formatters place it.
rm -f "$card"
truncate -s 64M "$card"
echo 'start=2048, type=c' | sfdisk --quiet "$card"
offset=$((2048 * 512))
mkfs.fat -F 32 -n SAMPLECARD --offset 2048 "$card" $((63 * 1024)) > /dev/null
export MTOOLS_SKIP_CHECK=1
vol="$card@@$offset"
mmd -i "$vol" ::DCIM ::DCIM/100CAMERA
for f in "$work"/IMG_*.JPG; do
  mcopy -i "$vol" "$f" ::DCIM/100CAMERA/
done
# Deleted by mistake: the directory entries go, the data stays on the card.
mdel -i "$vol" ::DCIM/100CAMERA/IMG_0002.JPG ::DCIM/100CAMERA/IMG_0005.JPG \
  ::DCIM/100CAMERA/IMG_0007.JPG

count=$(ls "$originals" | wc -l)
echo "Sample card: $card (64 MiB, FAT32, $count photos of which 3 deleted); originals in $originals"

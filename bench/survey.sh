#!/usr/bin/env bash
# Boot-sector survey speed on a 1 GiB image in the page cache, against
# `cat IMAGE > /dev/null` in the same run (alternated runs, medians; target:
# a ratio of at most 1.2). The image is random bytes with FAT32 boot sectors,
# allocation-table starts and an NTFS boot sector here and there, so the
# survey finds rows.
# Usage: bench/survey.sh [BUILD_DIR]   (RUNS=5 by default)
set -euo pipefail
source "$(dirname "$0")/common.sh"
image=$work/survey.img

if [ ! -f "$image" ]; then
  tmp=$(mktemp -d)
  { printf '\xeb\x58\x90MSWIN4.1'; head -c 71 /dev/zero; printf 'FAT32   '
    head -c 420 /dev/zero; printf '\x55\xaa'; } > "$tmp/fat32"
  { printf '\xeb\x52\x90NTFS    '; head -c 499 /dev/zero; printf '\x55\xaa'; } > "$tmp/ntfs"
  { printf '\xf8\xff\xff\x0f'; head -c 508 /dev/zero; } > "$tmp/fat"
  head -c 1G /dev/urandom > "$image.part"
  for s in 63 2048 1000000 2000000; do
    dd if="$tmp/fat32" of="$image.part" bs=512 seek=$s conv=notrunc status=none
    dd if="$tmp/fat" of="$image.part" bs=512 seek=$((s + 32)) conv=notrunc status=none
  done
  dd if="$tmp/ntfs" of="$image.part" bs=512 seek=1500000 conv=notrunc status=none
  mv "$image.part" "$image"
  rm -rf "$tmp"
fi
bytes=$(stat -c %s "$image")

# Into the page cache.
cat "$image" > /dev/null
cat "$image" > /dev/null
echo "survey of $image ($bytes bytes): $("$lumisave" survey --source "$image" --bytes "$bytes" | grep -cv SecNum) rows"
compare "survey 1 GiB (page cache)" \
  "'$lumisave' survey --source '$image' --bytes $bytes" \
  "cat '$image'"
# What of that is the window's start-up (drive list, volumes, the source row):
# the same command surveying one chunk.
compare "survey start-up (one chunk)" \
  "'$lumisave' survey --source '$image' --bytes 262144" \
  "cat /dev/null"

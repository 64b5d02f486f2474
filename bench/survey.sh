#!/usr/bin/env bash
# The boot-sector survey of a 1 GiB image held in the page cache, against
# `cat IMAGE > /dev/null` in the same run. Runs alternate between the two;
# the figure is the ratio of the medians (target: at most 1.2).
#
#   bench/survey.sh [path/to/lumisave]      (RUNS=7 by default; IMAGE=... to reuse an image)
set -euo pipefail

BIN=${1:-build/lumisave}
RUNS=${RUNS:-7}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
IMAGE=${IMAGE:-$WORK/survey.img}

if [ ! -f "$IMAGE" ]; then
  # Random bytes with a FAT32 boot sector, its allocation table and an NTFS
  # boot sector here and there, so that the survey finds rows.
  head -c 1G /dev/urandom > "$IMAGE"
  { printf '\xeb\x58\x90MSWIN4.1'; head -c 71 /dev/zero; printf 'FAT32   '
    head -c 420 /dev/zero; printf '\x55\xaa'; } > "$WORK/fat32"
  { printf '\xeb\x52\x90NTFS    '; head -c 499 /dev/zero; printf '\x55\xaa'; } > "$WORK/ntfs"
  { printf '\xf8\xff\xff\x0f'; head -c 508 /dev/zero; } > "$WORK/fat"
  for s in 63 2048 1000000 2000000; do
    dd if="$WORK/fat32" of="$IMAGE" bs=512 seek=$s conv=notrunc status=none
    dd if="$WORK/fat" of="$IMAGE" bs=512 seek=$((s + 32)) conv=notrunc status=none
  done
  dd if="$WORK/ntfs" of="$IMAGE" bs=512 seek=1500000 conv=notrunc status=none
fi
BYTES=$(stat -c %s "$IMAGE")

# Into the page cache.
cat "$IMAGE" > /dev/null
cat "$IMAGE" > /dev/null

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

survey_times=()
cat_times=()
for ((i = 0; i < RUNS; i++)); do
  survey_times+=("$(seconds "$BIN" survey --source "$IMAGE" --bytes "$BYTES")")
  cat_times+=("$(seconds cat "$IMAGE")")
done

rows=$("$BIN" survey --source "$IMAGE" --bytes "$BYTES" | wc -l)
s=$(printf '%s\n' "${survey_times[@]}" | median)
c=$(printf '%s\n' "${cat_times[@]}" | median)
printf 'image      %s (%d bytes, in the page cache)\n' "$IMAGE" "$BYTES"
printf 'survey     median %.3f s over %d runs (%d lines printed)\n' "$s" "$RUNS" "$rows"
printf 'cat        median %.3f s over %d runs\n' "$c" "$RUNS"
awk -v s="$s" -v c="$c" 'BEGIN { printf "ratio      %.2f (target <= 1.20)\n", s / c }'

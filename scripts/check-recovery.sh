#!/usr/bin/env bash
# Checks a recovery against the original photos: every original must come
# back whole (some recovered file begins with its bytes), and every recovered
# picture must decode.
#
#   scripts/check-recovery.sh ORIGINALS_DIR RECOVERED_DIR
set -euo pipefail
originals=$1
recovered=$2
status=0
mapfile -t files < <(find "$recovered" -type f -name '*.jpg' | sort)
for f in "${files[@]}"; do
  if ! djpeg -outfile /dev/null "$f" 2>/dev/null; then
    echo "does not decode: $f" >&2
    status=1
  fi
done
for o in "$originals"/*; do
  size=$(stat -c %s "$o")
  found=""
  for f in "${files[@]}"; do
    if [ "$(stat -c %s "$f")" -ge "$size" ] && cmp -s -n "$size" "$o" "$f"; then
      found=$f
      break
    fi
  done
  if [ -z "$found" ]; then
    echo "not recovered: $(basename "$o")" >&2
    status=1
  fi
done
if [ $status -eq 0 ]; then
  echo "All $(ls "$originals" | wc -l) photos recovered whole; ${#files[@]} recovered files decode."
fi
exit $status

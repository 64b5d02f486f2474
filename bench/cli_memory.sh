#!/usr/bin/env bash
# Peak memory of a command-line recovery: `lumisave recover` over a 256 MiB
# image must stay within 16 MiB of resident memory. The window's toolkit is a
# program of its own (lumisave-gui), so it is never loaded here.
#
#   bench/cli_memory.sh [BUILD_DIR]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

truncate -s 256M "$work/card.img"
convert -size 64x64 xc:red "$work/a.jpg"
for sector in 2048 65536 300000; do
  dd if="$work/a.jpg" of="$work/card.img" bs=512 seek="$sector" conv=notrunc status=none
done
if ldd "$build/lumisave" | grep -q wx_; then
  echo "cli_memory: lumisave links the window toolkit" >&2
  exit 1
fi
HOME="$work" /usr/bin/time -f '%M' -o "$work/rss" \
  "$build/lumisave" recover --source "$work/card.img" --out "$work/out" --yes 2>/dev/null
kib=$(cat "$work/rss")
echo "lumisave recover, 256 MiB image: peak RSS ${kib} KiB (limit 16384 KiB)"
[ "$kib" -le 16384 ]

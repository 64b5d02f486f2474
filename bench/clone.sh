#!/usr/bin/env bash
# Clone benchmark: a clone of a 1 GiB image onto a 1 GiB image (every write
# flushed, as the clone does) against the reference
#   dd if=SRC of=DST bs=256K oflag=dsync conv=notrunc
# in the same run, alternated, median of RUNS runs each; the same clone
# keeping a map (--mapfile, a new map each run) against the clone without
# one; and the clone's peak memory (maximum resident set size).
#
#   bench/clone.sh [BUILD_DIR]        (RUNS=5 SIZE_MIB=1024 WORK=/var/tmp)
#
# Targets: clone median <= 1.1 x dd median; clone with a map <= 1.1 x the
# clone without; peak memory <= 16 MiB.
set -euo pipefail

build=${1:-build}
lumisave=$(realpath "$build/lumisave")
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-1024}
work=$(mktemp -d "${WORK:-/var/tmp}/lumisave-clone-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -x /usr/bin/time ] || { echo "clone.sh: /usr/bin/time is missing (scripts/install-deps.sh)" >&2; exit 1; }

src=$work/src.img
dst=$work/dst.img
echo "making a ${size_mib} MiB source image and target in $work ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$src"
head -c $((size_mib << 20)) /dev/zero >"$dst"
sync

# Prints "SECONDS MAXRSS_KIB" of one command.
timed() {
  local out=$work/time.txt
  /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>"$work/stderr.txt" ||
    { cat "$work/stderr.txt" >&2; return 1; }
  cat "$out"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

clone_times=() map_times=() dd_times=() peak=0
for ((i = 1; i <= runs; i++)); do
  read -r t m < <(cd "$work" && timed "$lumisave" clone --source "$src" --target "$dst" --yes)
  cmp -s "$src" "$dst" || { echo "clone.sh: the clone differs from its source" >&2; exit 1; }
  clone_times+=("$t")
  ((m > peak)) && peak=$m
  rm -f "$work/card.map"
  read -r t m < <(cd "$work" && timed "$lumisave" clone --source "$src" --target "$dst" --yes \
    --mapfile card.map)
  grep -q '^0x00000000  0x[0-9A-F]*  +$' "$work/card.map" ||
    { echo "clone.sh: the map does not show the source copied" >&2; exit 1; }
  map_times+=("$t")
  ((m > peak)) && peak=$m
  read -r t _ < <(timed dd if="$src" of="$dst" bs=256K oflag=dsync conv=notrunc)
  dd_times+=("$t")
  echo "run $i: lumisave clone ${clone_times[-1]} s, with a map ${map_times[-1]} s," \
    "dd ${dd_times[-1]} s" >&2
done

clone_median=$(printf '%s\n' "${clone_times[@]}" | median)
map_median=$(printf '%s\n' "${map_times[@]}" | median)
dd_median=$(printf '%s\n' "${dd_times[@]}" | median)
ratio=$(awk -v a="$clone_median" -v b="$dd_median" 'BEGIN {printf "%.3f", a / b}')
map_ratio=$(awk -v a="$map_median" -v b="$clone_median" 'BEGIN {printf "%.3f", a / b}')
peak_mib=$(awk -v k="$peak" 'BEGIN {printf "%.1f", k / 1024}')
rate=$(awk -v s="$clone_median" -v m="$size_mib" 'BEGIN {printf "%.0f", m / s}')

echo "clone of ${size_mib} MiB, median of $runs runs:"
echo "  lumisave clone  ${clone_median} s  (${rate} MiB/s)"
echo "  with a map      ${map_median} s"
echo "  dd oflag=dsync  ${dd_median} s"
echo "  ratio           ${ratio}  (target <= 1.1)"
echo "  map ratio       ${map_ratio}  (with a map / without, target <= 1.1)"
echo "  peak memory     ${peak_mib} MiB  (target <= 16)"
awk -v r="$ratio" -v q="$map_ratio" -v p="$peak" 'BEGIN {exit !(r <= 1.1 && q <= 1.1 && p <= 16384)}' &&
  echo "PASS" || { echo "FAIL"; exit 1; }

#!/usr/bin/env bash
# Every file type ticked: how long a recovery scan of an image with no
# signature at any sector start takes, against `cat IMAGE > /dev/null` in
# the same run. Target: the scan within 1.3 x cat.
#
#   bench/all-types.sh [LUMISAVE] [RUNS]
#
# LUMISAVE defaults to build/lumisave, RUNS (at least 5) to 5. The 1 GiB
# image is built in /dev/shm (so it is in memory, as a cached image is);
# set IMAGE_KIND=zeros for an image of zero bytes, where every sector's
# first byte is one the database rows start with and their carvers are
# called for every sector. Runs alternate with the reference; the medians
# are reported.
set -euo pipefail

lumisave=${1:-build/lumisave}
runs=${2:-5}
kind=${IMAGE_KIND:-random}
work=${BENCH_DIR:-/dev/shm/lumisave-bench-all-types}
image=$work/image-$kind.img
types=(jpeg qbb pst dbx office wav bmp jpeg0 access mp3 coredraw avi doc excel pdf mcd progress)

[ -x "$lumisave" ] || { echo "all-types: $lumisave is not built" >&2; exit 1; }
[ "$runs" -ge 5 ] || { echo "all-types: at least 5 runs" >&2; exit 1; }
mkdir -p "$work"
trap 'rm -rf "$work/out"*' EXIT

if [ ! -s "$image" ]; then
  if [ "$kind" = zeros ]; then
    head -c 1G /dev/zero > "$image"
  else
    # Random bytes without any byte a signature of the scan starts with
    # (00 1A 21 25 42 45 52 CF D0 FF), so that no sector starts a file.
    head -c 1G /dev/urandom | LC_ALL=C tr '\000\032\041\045\102\105\122\317\320\377' '\001' > "$image"
  fi
fi

type_args=()
for t in "${types[@]}"; do type_args+=(--type "$t"); done

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cat "$image" > /dev/null  # into memory once before the first timing
cat_times=()
scan_times=()
for i in $(seq "$runs"); do
  t0=$(now); cat "$image" > /dev/null; t1=$(now)
  cat_times+=("$(elapsed "$t0" "$t1")")
  rm -rf "$work/out"*
  t0=$(now)
  "$lumisave" recover --source "$image" --out "$work/out" "${type_args[@]}" --yes 2> "$work/stderr" || {
    cat "$work/stderr" >&2; exit 1; }
  t1=$(now)
  scan_times+=("$(elapsed "$t0" "$t1")")
  if find "$work" -path "$work/out*" -type f | grep -q .; then
    echo "all-types: the scan found files in an image meant to have none" >&2
    exit 1
  fi
done

cat_median=$(median "${cat_times[@]}")
scan_median=$(median "${scan_times[@]}")
ratio=$(awk -v s="$scan_median" -v c="$cat_median" 'BEGIN { printf "%.4f", s / c }')
printf 'image: 1 GiB (%s), every type ticked, %d runs\n' "$kind" "$runs"
printf 'cat:      median %.3f s  (%s)\n' "$cat_median" "${cat_times[*]}"
printf 'lumisave: median %.3f s  (%s)\n' "$scan_median" "${scan_times[*]}"
printf 'ratio:    %.2f x (target <= 1.30)\n' "$ratio"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.3) }' || { echo "all-types: above the target" >&2; exit 2; }

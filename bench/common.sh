# Shared helpers of the benchmark scripts: timing, medians, page cache.
# Sourced with the script's arguments: $1 is the build folder (default build).
# shellcheck shell=bash

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
lumisave=$build/lumisave
work=${BENCH_DIR:-/var/tmp/lumisave-bench}
mkdir -p "$work"

# Wall seconds of a command line (run with bash -c), stdout/stderr dropped.
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  bash -c "$1" > /dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

# Median of the numbers on stdin.
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Peak resident memory in KiB of a command line.
peak_kib() {
  /usr/bin/time -f %M bash -c "exec $1" 2>&1 > /dev/null | tail -n 1
}

# Runs `ours` and `reference` in turn RUNS times (default 5), each preceded by
# `prepare` when given, and prints both medians and their ratio.
compare() {  # name ours reference [prepare]
  local name=$1 ours=$2 ref=$3 prepare=${4:-true}
  local runs=${RUNS:-5} i a=() b=()
  for ((i = 0; i < runs; i++)); do
    bash -c "$prepare"
    b+=("$(wall "$ref")")
    bash -c "$prepare"
    a+=("$(wall "$ours")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  printf '%-34s lumisave %7.3f s   reference %7.3f s   ratio %5.2f   (median of %d)\n' \
    "$name" "$ma" "$mb" "$(echo "$ma / $mb" | bc -l)" "$runs"
}

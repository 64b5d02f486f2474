#!/usr/bin/env bash
# Builds the whole-scan fuzzer (fuzz/scan_fuzzer.cpp) with clang (ASan + UBSan) in its own
# build folder and runs it for SECONDS (default 600) over the walkers' seed corpus. Longer
# than the suite can afford, so it is run by hand: see the README.
# Usage: fuzz/scan.sh [SECONDS]   (BUILD=folder to choose the build folder)
# Exits 77 (skipped) when clang or its fuzzer runtime is missing, 1 on a finding.
set -euo pipefail
seconds=${1:-600}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD:-$root/build-fuzz-scan}
source "$here/common.sh"
flags+=($(pkg-config --cflags mount blkid))
mkdir -p "$build/obj"
objects=()
for source in "$root"/{base,platform,formats,carvers,scan}/*.cpp; do
  object=$build/obj/$(basename "$(dirname "$source")")_$(basename "${source%.cpp}").o
  if [ ! "$object" -nt "$source" ]; then
    "$cxx" "${flags[@]}" -c "$source" -o "$object"
  fi
  objects+=("$object")
done
exe=$build/scan_fuzzer
"$cxx" "${flags[@]}" "$here/scan_fuzzer.cpp" "${objects[@]}" $(pkg-config --libs mount blkid) -pthread -o "$exe"

walker_seeds
# A small file of each older type: its signature, and a size field or an end marker.
if [ ! -d "$build/seeds/types" ]; then
  mkdir -p "$build/seeds/types"
  perl - "$build/seeds/types" <<'PL'
my $out = shift;
sub sample {  # sample(HEAD, OFFSET => BYTES, ...): 2048 bytes of filler with the parts laid in
  my ($head, %at) = @_;
  my $b = join("", map { chr(0x60 + $_ % 23) } 0 .. 2047);
  $at{0} = $head;
  substr($b, $_, length $at{$_}) = $at{$_} for keys %at;
  return $b;
}
my $le = sub { pack("V", shift) };
my %seeds = (
  jpeg      => sample("\xFF\xD8\xFF\xE1", 2046 => "\xFF\xD9"),
  jpeg0     => sample("\xFF\xD8\xFF\xE0", 2046 => "\xFF\xD9"),
  doc       => sample("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 48 => $le->(0), 544 => "\x0E\x00bjbj"),
  excel     => sample("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 48 => $le->(2), 544 => "\xE2\x00\x00\x00\x5C\x00\x70"),
  qbb       => sample("\x45\x86\x00\x00"),
  pst       => sample("!BDN", 168 => $le->(2048)),
  bmp       => sample("BM", 2 => $le->(2048)),
  avi       => sample("RIFF" . $le->(2040) . "AVI "),
  dbx       => sample("\xCF\xAD\x12\xFE", 36 => $le->(2048)),
  office    => sample("\x00\x01\x00\x00Standard Jet DB"),
  coredraw  => sample("RIFF\x00\x00\x00\x00CDRA"),
  pdf       => sample("%PDF-1.4", 2042 => "%%EOF\n"),
  mcd       => sample("", 14 => "VectorWorks", 2039 => "Mp\xCC\x00\x01\x00\x00\x00T"),
  progress  => sample("\x1A\x00\x00", 40 => "%", 43 => "\xFF"),
);
my $all = "";
for my $name (sort keys %seeds) {
  open(my $f, ">:raw", "$out/$name") or die; print $f $seeds{$name}; close $f;
  $all .= $seeds{$name} . ("\0" x 512);
}
# All of them in one image, a sector apart.
open(my $f, ">:raw", "$out/all") or die; print $f $all; close $f;
PL
fi
mkdir -p "$build/corpus" "$build/findings"
echo "fuzz: the whole scan for ${seconds}s"
if ! "$exe" -max_total_time="$seconds" -max_len=262144 -timeout=20 -print_final_stats=1 \
     -artifact_prefix="$build/findings/" "$build/corpus" "$build"/seeds/* > "$build/scan.log" 2>&1; then
  echo "fuzz: the scan fuzzer found a fault; see $build/scan.log and $build/findings/"
  grep -A25 -m1 -E "ERROR|runtime error|deadly signal|Timeout" "$build/scan.log" || tail -25 "$build/scan.log"
  exit 1
fi
tail -12 "$build/scan.log"

#!/usr/bin/env bash
# Builds the fuzzers' seed corpus in $1/<target>/ from the files the walker tests make
# (ImageMagick, ffmpeg, exiftool).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
bash "$here/../tests/formats_samples.sh" "$samples"
seed() {  # seed TARGET FILE...
  mkdir -p "$out/$1"
  local target=$1
  shift
  cp "$@" "$out/$target/"
}
seed png "$samples"/*.png
seed gif "$samples"/*.gif
seed tiff "$samples"/picture.tif "$samples"/raw-*.tif
seed tiffraw "$samples"/raw-*.tif
seed isobmff "$samples"/*.heic "$samples"/*.avif "$samples"/*.mp4 "$samples"/*.mov "$samples"/*.m4v \
  "$samples"/*.3gp "$samples"/*.m4a
seed ts "$samples"/*.mts "$samples"/*.m2ts
seed matroska "$samples"/*.mkv "$samples"/*.webm
seed jpeg "$samples"/*.jpg
seed webp "$samples"/*.webp
seed raf "$samples"/*.raf

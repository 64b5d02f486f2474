#!/usr/bin/env bash
# Installs every Debian package Lumisave needs to build, test and make its
# sample card. Run as root on Debian 12; does nothing when all are present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  libwxgtk3.2-dev libcli11-dev libblkid-dev libmount-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth time bc
  # the sample card: a FAT32 file system, real JPEG encoders and EXIF tools
  dosfstools mtools fdisk imagemagick libimage-exiftool-perl libjpeg-turbo-progs
  # real files for the carver tests: sound (sox), video (mjpegtools), PDF (ghostscript)
  sox mjpegtools ghostscript
  # loop devices for the tests that use real block devices, a file system to
  # mount on one, and a FUSE file system with failing sectors beneath one
  util-linux mount e2fsprogs fuse3 libfuse3-dev
  # another rescue tool's map reader (ddrescuelog), to check the clone's maps
  gddrescue
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing: ${missing[*]}" >&2
  echo "install-deps: run as root (sudo bash scripts/install-deps.sh)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Builds Lumisave's Debian package (build-package/lumisave_VERSION_ARCH.deb)
# and installs it with apt, which also installs the libraries it depends on.
# With --build-only the package is built and not installed.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
case "${1:-}" in
  "") ;;
  --build-only) build_only=1 ;;
  *) echo "usage: bash scripts/package.sh [--build-only]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DLUMISAVE_TESTS=OFF -DLUMISAVE_BENCH=OFF > /dev/null
ninja -C build-package
rm -f build-package/lumisave_*.deb
(cd build-package && cpack -G DEB > /dev/null)
deb=$(ls "$(pwd)"/build-package/lumisave_*.deb)
echo "Built $deb"
if [ "$build_only" = 1 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "package: run as root to install it (sudo apt install $deb)" >&2
  exit 1
fi
apt-get install -y "$deb"
echo "Installed: 'lumisave' and 'man lumisave' in a terminal, Lumisave in the menu."

#!/usr/bin/env bash
# Installs what Lumisave needs, builds it, makes a sample SD card image with
# deleted photos, and recovers the photos from it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
ninja -C build lumisave lumisave-gui

mkdir -p sample
bash scripts/make-sample-card.sh sample/card.img sample/originals
rm -rf sample/recovered
./build/lumisave recover --source sample/card.img --out sample/recovered --yes

jpeg=$(find sample/recovered/JPEG -type f | wc -l)
jpeg0=$(find sample/recovered/JPEG0 -type f | wc -l)
echo
echo "Recovered $((jpeg + jpeg0)) pictures from sample/card.img:"
echo "  $jpeg camera photos (EXIF) in $(pwd)/sample/recovered/JPEG"
echo "  $jpeg0 pictures (JFIF) in $(pwd)/sample/recovered/JPEG0"
bash scripts/check-recovery.sh sample/originals sample/recovered

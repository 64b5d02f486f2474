#!/usr/bin/env bash
# Renders docs/window.png: the Lumisave window on a sample SD card image,
# after a recovery scan of it, drawn on a virtual X server.
#
#   scripts/screenshot.sh [BUILD_DIR]      (default: build)
#
# Needs Xvfb, ImageMagick (convert, import), dosfstools and mtools
# (scripts/install-deps.sh installs them).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A sample card: an 8 MiB FAT file system holding a few photos.
card="$work/sdcard.img"
mkfs.fat -C -n SDCARD "$card" 8192 >/dev/null
mmd -i "$card" ::/DCIM ::/DCIM/100PHOTO
for i in 1 2 3 4; do
  convert -size 320x240 "plasma:fractal" -seed "$i" "$work/IMG_000$i.JPG" 2>/dev/null ||
    convert -size 320x240 gradient:skyblue-navy "$work/IMG_000$i.JPG"
  mcopy -i "$card" "$work/IMG_000$i.JPG" ::/DCIM/100PHOTO/
done

# The window: pick the card, scan it into a folder, then hold still for the
# picture until it has been taken.
mkdir -p "$work/home" "$work/out"
cat > "$work/script" <<SCRIPT
pick $work/out
press 1055
select $card
answer yes
press 1080
ready $work/ready
wait $work/taken
SCRIPT

# On the virtual X server: the window in the background, the picture taken
# once it reports its place.
cat > "$work/take" <<TAKE
#!/usr/bin/env bash
set -euo pipefail
HOME="$work/home" "$build/lumisave" --image "$card" --script "$work/script" >"$work/log" &
gui_pid=\$!
for _ in \$(seq 300); do [ -s "$work/ready" ] && break; sleep 0.1; done
if [ ! -s "$work/ready" ]; then
  echo "screenshot: the window did not come up" >&2
  cat "$work/log" >&2
  exit 1
fi
# Let the window finish painting before the picture is taken.
sleep 1
import -window root -crop "\$(cat "$work/ready")" +repage "$root/docs/window.png"
touch "$work/taken"
wait "\$gui_pid"
TAKE
chmod +x "$work/take"
mkdir -p "$root/docs"
"$root/scripts/with-xvfb.sh" "$work/take"
echo "screenshot: wrote docs/window.png ($(cat "$work/ready"))"

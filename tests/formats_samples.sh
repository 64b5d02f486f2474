#!/usr/bin/env bash
# Makes small photo and video files with real encoders into the folder $1, for the
# structure walker tests and the fuzzers' seed corpus. Each file is tiny: a 16x12
# picture or a one-second clip.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
q=(-hide_banner -loglevel error -y)
video=(-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -pix_fmt yuv420p)
when=(-metadata creation_time=2021-06-01T10:20:30Z)

convert -size 16x12 gradient:red-blue picture.png
exiftool -q -q -overwrite_original -PNG:ModifyDate='2018:03:04 05:06:07' picture.png
convert -size 16x12 gradient:red-blue picture.gif
convert -size 16x12 gradient:red-blue -define tiff:endian=lsb -compress none picture.tif
exiftool -q -overwrite_original -DateTimeOriginal='2020:05:06 07:08:09' -OffsetTimeOriginal='+02:00' picture.tif
convert -size 16x12 gradient:red-blue picture.heic
convert -size 16x12 gradient:red-blue picture.avif
# A phone's HEIC: the capture time in an Exif item that iinf names and iloc places.
cp picture.heic exif.heic
exiftool -q -overwrite_original -DateTimeOriginal='2022:07:08 09:10:11' exif.heic
# A JPEG with EXIF capture time (no zone), a progressive one, and a tiny one for previews.
convert -size 16x12 gradient:red-blue exif.jpg
exiftool -q -overwrite_original -DateTimeOriginal='2019:01:02 03:04:05' exif.jpg
# A camera's JPEG opens with its EXIF segment (FF D8 FF E1), no JFIF segment before it.
cp exif.jpg camera.jpg
exiftool -q -overwrite_original -JFIF:all= camera.jpg
convert -size 32x24 gradient:red-blue -interlace Plane progressive.jpg
convert -size 8x6 gradient:blue-red thumb.jpg

# TIFFs to become RAWs: the Make tag (and DNGVersion) set by exiftool.
for m in "cr2 Canon" "orf OLYMPUS CORPORATION" "rw2 Panasonic" "nef NIKON CORPORATION" \
         "arw SONY" "pef PENTAX Corporation" "dng Canon" "tif Canon"; do
  name=${m%% *} make=${m#* }
  cp picture.tif "raw-$name.tif"
  exiftool -q -overwrite_original -Make="$make" "raw-$name.tif"
done
exiftool -q -overwrite_original -DNGVersion=1.4.0.0 raw-dng.tif

ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 "${when[@]}" movie.mp4
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 "${when[@]}" movie.mov
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 "${when[@]}" movie.m4v
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 "${when[@]}" movie.3gp
ffmpeg "${q[@]}" -f lavfi -i sine=duration=1 -c:a aac "${when[@]}" sound.m4a
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 -f mpegts movie.mts
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 -f mpegts -mpegts_m2ts_mode 1 movie.m2ts
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 "${when[@]}" movie.mkv
ffmpeg "${q[@]}" "${video[@]}" -c:v libvpx "${when[@]}" movie.webm
# Written to a pipe, a Matroska file has a segment and clusters of unknown size.
ffmpeg "${q[@]}" "${video[@]}" -c:v libx264 -f matroska - > streamed.mkv

# WebP: lossy, lossless, and an extended one with an EXIF capture time (exiftool adds VP8X).
convert -size 16x12 gradient:red-blue picture.webp
convert -size 16x12 gradient:red-blue -define webp:lossless=true lossless.webp
cp picture.webp exif.webp
exiftool -q -overwrite_original -DateTimeOriginal='2023:09:10 11:12:13' exif.webp
# A Fujifilm RAF laid out as its header says: the header (148 bytes), the JPEG preview (with its
# EXIF capture time), the CFA header, then the CFA data, which ends the file.
perl -e '
  open(my $f, "<:raw", "camera.jpg") or die; local $/; my $jpeg = <$f>;
  my $hdr = pack("N", 2) . pack("nn", 0x100, 4) . pack("nn", 4, 8) . pack("nn", 0x111, 4) . pack("nn", 3, 2);
  my $cfa = join("", map { chr(($_ * 7) % 256) } 0 .. 4095);
  my $jo = 148; my $ho = $jo + length($jpeg); my $co = $ho + length($hdr);
  my $head = "FUJIFILMCCD-RAW 0201FF129502" . pack("a32", "X-T3") . "0100" . ("\0" x 20)
           . pack("N6", $jo, length($jpeg), $ho, length($hdr), $co, length($cfa));
  $head .= "\0" x ($jo - length($head));
  open(my $o, ">:raw", "picture.raf") or die; print $o $head, $jpeg, $hdr, $cfa;'

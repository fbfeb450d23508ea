#!/usr/bin/env bash
# Writes the launcher's window and desktop icons, launcher/icons/launcher-N.png
# for N = 16, 24, 32, 48, 64, 128 and 256, from the launcher's emblem: the
# largest image of launcher/page/client_icon.ico (drawn at 256 px by
# scripts/make_page_artwork.sh). Needs ImageMagick 6 (`convert`, `identify`).
# The PNGs are committed and compiled into the launcher, so the build does not
# need ImageMagick; run this again only when the emblem changes.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source_ico="$top/launcher/page/client_icon.ico"
out="$top/launcher/icons"
sizes=(16 24 32 48 64 128 256)

# The frame with the most pixels is the emblem at full size.
largest=$(identify -format '%[fx:w*h] %p\n' "$source_ico" | sort -n | tail -n 1 | cut -d' ' -f2)
mkdir -p "$out"
for n in "${sizes[@]}"; do
  # PNG32: 8-bit RGBA whatever the source, so every size decodes the same way.
  convert "${source_ico}[${largest}]" -background none -filter Lanczos -resize "${n}x${n}" \
    -gravity center -extent "${n}x${n}" -strip "PNG32:$out/launcher-$n.png"
done
identify "$out"/launcher-*.png

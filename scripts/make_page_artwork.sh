#!/usr/bin/env bash
# Draws the launcher page's artwork with ImageMagick 6 (`convert`) and writes
# it into launcher/page/: background.jpg (1130 x 710 window backdrop),
# icon_48.png (round server tile icon), kst.png (support team logo, shown
# 80 px wide) and client_icon.ico (window icon, 16 to 256 px).
# Everything is drawn from shapes (no fonts, no photos); a fixed seed keeps the
# star field the same from run to run. The generated files are committed, so
# the build does not need ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../launcher/page"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

W=1130
H=710

# --- background.jpg -------------------------------------------------------
# Night sky: vertical gradient from a deep blue-green to near black.
convert -size ${W}x${H} gradient:'#0c2a26'-'#030806' "$work/sky.png"

# Stars: sparse random points, a few of them slightly larger and blurred.
convert -size ${W}x${H} xc:black -seed 7 +noise Random -channel G -separate +channel \
  -threshold 99.82% -morphology Dilate Disk:0.6 "$work/stars_mask.png"
convert "$work/stars_mask.png" -blur 0x0.6 -level 0,60% \
  \( -size ${W}x${H} gradient:white-black -level 0,90% \) -compose Multiply -composite \
  "$work/stars.png"

# Aurora: two blurred wavy bands in green and teal.
convert -size ${W}x${H} xc:black -fill '#3eff9a' -stroke none \
  -draw "path 'M -40,250 C 200,120 380,330 620,190 S 980,110 1180,230 L 1180,270 C 980,160 820,300 620,240 S 220,190 -40,300 Z'" \
  -blur 0x28 "$work/aurora1.png"
convert -size ${W}x${H} xc:black -fill '#1fb7a0' -stroke none \
  -draw "path 'M -40,160 C 250,80 420,240 700,130 S 1000,60 1180,140 L 1180,165 C 1000,100 860,200 700,170 S 240,130 -40,195 Z'" \
  -blur 0x36 "$work/aurora2.png"
convert "$work/aurora1.png" "$work/aurora2.png" -compose Screen -composite \
  -evaluate Multiply 0.55 "$work/aurora.png"

# Mountain ranges, far to near, each darker than the one behind it.
convert -size ${W}x${H} xc:none \
  -fill '#0f2b26' -draw "polygon 0,470 90,400 170,430 260,350 340,395 420,330 520,410 600,372 690,300 780,380 860,340 950,395 1040,350 1130,410 1130,${H} 0,${H}" \
  -blur 0x2 "$work/range1.png"
convert -size ${W}x${H} xc:none \
  -fill '#0a1d19' -draw "polygon 0,520 110,455 200,490 300,430 380,470 470,415 560,480 660,440 760,500 850,450 960,505 1050,470 1130,500 1130,${H} 0,${H}" \
  -blur 0x1 "$work/range2.png"
convert -size ${W}x${H} xc:none \
  -fill '#050f0c' -draw "polygon 0,600 140,540 260,575 380,530 520,590 640,560 780,600 900,555 1020,590 1130,560 1130,${H} 0,${H}" \
  "$work/range3.png"

# A lone tower on the middle ridge, with a lit window.
convert -size ${W}x${H} xc:none \
  -fill '#081814' -draw "polygon 452,430 458,352 452,346 466,318 480,346 474,352 480,430" \
  -fill '#6dffaa' -draw "rectangle 464,360 468,368" "$work/tower.png"

# Mist above the valley floor.
convert -size ${W}x${H} xc:none -fill 'rgba(160,230,200,0.18)' \
  -draw "ellipse 565,520 700,45 0,360" -blur 0x30 "$work/mist.png"

# Vignette: darken the corners.
convert -size ${W}x${H} radial-gradient:white-black -level 25%,100% -negate \
  -evaluate Multiply 0.75 -negate "$work/vignette.png"

convert "$work/sky.png" \
  "$work/stars.png" -compose Screen -composite \
  "$work/aurora.png" -compose Screen -composite \
  "$work/range1.png" -compose Over -composite \
  "$work/tower.png" -compose Over -composite \
  "$work/range2.png" -compose Over -composite \
  "$work/mist.png" -compose Over -composite \
  "$work/range3.png" -compose Over -composite \
  "$work/vignette.png" -compose Multiply -composite \
  -strip -interlace Plane -sampling-factor 4:2:0 -quality 82 background.jpg

# --- emblem (tile icon and window icon) -------------------------------------
# A green disc with a dark rim and a diamond "rune" at its centre, drawn at
# 256 px and scaled down for each use.
convert -size 256x256 xc:none \
  -fill '#0b1f18' -stroke '#6dffaa' -strokewidth 10 -draw "circle 128,128 128,10" \
  -fill none -stroke '#2fd87a' -strokewidth 3 -draw "circle 128,128 128,32" \
  -stroke none -fill '#6dffaa' \
  -draw "polygon 128,52 176,128 128,204 80,128" \
  -fill '#0b1f18' -draw "polygon 128,84 154,128 128,172 102,128" \
  -fill '#6dffaa' -draw "rectangle 122,96 134,160" \
  -draw "polygon 92,128 128,106 164,128 128,150" \
  -fill '#0b1f18' -draw "polygon 108,128 128,116 148,128 128,140" \
  "$work/emblem.png"

convert "$work/emblem.png" -filter Lanczos -resize 48x48 -strip icon_48.png
convert "$work/emblem.png" \( -clone 0 -resize 16x16 \) \( -clone 0 -resize 32x32 \) \
  \( -clone 0 -resize 48x48 \) \( -clone 0 -resize 256x256 \) -delete 0 -depth 8 client_icon.ico

# --- kst.png: the support team's logo ----------------------------------------
# "KST" built from straight strokes inside a rounded plate, 160 x 56 (shown at
# 80 x 28). The curves of the S are chains of short lines: ImageMagick 6 closes
# stroked open paths and arcs with a chord, separate lines it leaves alone.
arcLines() {  # cx cy rx ry startDegrees endDegrees
  awk -v cx="$1" -v cy="$2" -v rx="$3" -v ry="$4" -v a0="$5" -v a1="$6" 'BEGIN {
    n = 16; pi = atan2(0, -1)
    for (i = 0; i < n; i++) {
      t0 = (a0 + (a1 - a0) * i / n) * pi / 180; t1 = (a0 + (a1 - a0) * (i + 1) / n) * pi / 180
      printf "line %.2f,%.2f %.2f,%.2f ", cx + rx * cos(t0), cy + ry * sin(t0), cx + rx * cos(t1), cy + ry * sin(t1)
    }
  }'
}
convert -size 160x56 xc:none \
  -fill 'rgba(6,10,8,0.55)' -stroke '#2fd87a' -strokewidth 2 -draw "roundrectangle 1,1 158,54 10,10" \
  -fill none -stroke '#6dffaa' -strokewidth 6 -draw "stroke-linecap round" \
  -draw "line 28,14 28,42 line 48,14 30,30 line 36,25 49,42" \
  -draw "$(arcLines 78 20.5 11 7.5 90 330) $(arcLines 78 35.5 12 7.5 -90 150)" \
  -draw "line 106,14 134,14 line 120,14 120,42" \
  -strip kst.png

ls -l background.jpg icon_48.png kst.png client_icon.ico

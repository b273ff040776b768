#!/usr/bin/env bash
# Draws the Windows installer's bitmaps from the program's icon (src/ui/resources/kestrine-48.png
# and kestrine-128.png, which tools/make_icons.sh renders) with ImageMagick: the header image
# (150 x 57, the icon at the right of the pages' white header band) and the welcome and finish pages' side image (164 x 314, the icon
# over the icon's own dark blue, with its signal wave along the foot). Writes
# packaging/windows/header.bmp and wizard.bmp as 24-bit BMP3, which every NSIS version loads
# (both committed, so building needs neither tool); run again after changing the icon.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
icons=$root/src/ui/resources
out=$root/packaging/windows
command -v convert >/dev/null || { echo "make_installer_bitmaps.sh: convert is missing (apt install imagemagick)" >&2; exit 1; }

FRAME='#0d1f2e'
FIELD='#1c3a52'
WAVE='#55d3e8'
BMP_OPTIONS=(-background white -alpha remove -alpha off -type TrueColor -strip)

convert -size 150x57 xc:white "$icons/kestrine-48.png" -gravity east -geometry +6+0 -composite \
    "${BMP_OPTIONS[@]}" "BMP3:$out/header.bmp"

convert -size 164x314 "gradient:$FIELD-$FRAME" \
    "$icons/kestrine-128.png" -gravity north -geometry +0+48 -composite \
    -gravity northwest -fill none -stroke "$WAVE" -strokewidth 3 \
    -draw 'path "M 20,262 C 26,250 38,250 44,262 S 62,274 68,262 S 86,250 92,262 S 110,274 116,262 S 134,250 140,262"' \
    "${BMP_OPTIONS[@]}" "BMP3:$out/wizard.bmp"

#!/usr/bin/env bash
# Draws the program's icon with ImageMagick: a kestrel's eye under a hard brow, watching a
# signal wave. 32 x 32 is drawn as shapes; 16 x 16 is placed pixel by pixel, since shapes
# scaled that small blur. The larger sizes, 48 to 256, are rendered with rsvg-convert from
# kestrine.svg, the same drawing on a 256 grid written by hand. Writes
# src/ui/resources/kestrine-{16,32,48,64,128,256}.png and the Windows icon kestrine.ico
# holding 16 and 32 (all committed, so building needs neither tool); run again after
# changing a colour or a shape, here or in the SVG.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/src/ui/resources"
for tool in convert rsvg-convert; do
  command -v "$tool" >/dev/null || { echo "make_icons.sh: $tool is missing (apt install imagemagick librsvg2-bin)" >&2; exit 1; }
done

FRAME='#0d1f2e'
FIELD='#1c3a52'
WHITE='#f4f1e8'
IRIS='#e8a02c'
PUPIL='#111111'
GLINT='#ffffff'
WAVE='#55d3e8'

# No timestamps or other metadata, so the same drawing gives the same bytes.
PNG_OPTIONS=(-strip -depth 8 -define 'png:exclude-chunks=date,time,bKGD')

# Pixel centres are at whole coordinates: the frame's 1-pixel stroke on 0 and 31 stays
# sharp, and the wave's turning points sit on .5 so its 2-pixel stroke covers whole rows.
convert -size 32x32 xc:none \
  -fill "$FIELD" -stroke "$FRAME" -strokewidth 1 -draw 'roundrectangle 0,0 31,31 5,5' \
  -stroke none \
  -fill "$WHITE" -draw 'path "M 3,15 Q 15,3 29,11 Q 19,26 3,15 Z"' \
  -fill "$IRIS" -draw 'circle 16,14.5 16,8' \
  -fill "$PUPIL" -draw 'circle 16,14.5 16,11' \
  -fill "$FIELD" -draw 'path "M 2,15.5 Q 13,8 30,8.5 L 30,4 L 2,4 Z"' \
  -fill "$GLINT" -draw 'circle 14.2,13.2 14.2,12' \
  -fill none -stroke "$WAVE" -strokewidth 2 \
  -draw 'path "M 3,25.5 C 6,21.5 8,21.5 10,25.5 S 14,29.5 16,25.5 S 20,21.5 22,25.5 S 26,29.5 28,25.5"' \
  "${PNG_OPTIONS[@]}" "$out/kestrine-32.png"

# The same picture at 16 x 16, one letter a pixel: K frame, B field, W white of the eye,
# A iris, P pupil, H glint, C wave, . transparent.
PIXELS_16=(
  '..KKKKKKKKKKKK..'
  '.KBBBBBBBBBBBBK.'
  'KBBBBBBBBBBBBBBK'
  'KBBBBBBBBBBWWBBK'
  'KBBBBBBAAAAWWWBK'
  'KBBBBWAAPPAAWWBK'
  'KBBWWWAPHPPAWBBK'
  'KBWWWWAPPPPAWBBK'
  'KBBBWWWAPPAWBBBK'
  'KBBBBBWWWWBBBBBK'
  'KBBBBBBBBBBBBBBK'
  'KBBCCBBBBBCCBBBK'
  'KBCBBCBBBCBBCBBK'
  'KBBBBBCCBBBBBCBK'
  '.KBBBBBBBBBBBBK.'
  '..KKKKKKKKKKKK..'
)
declare -A COLOUR_OF=([K]=$FRAME [B]=$FIELD [W]=$WHITE [A]=$IRIS [P]=$PUPIL [H]=$GLINT [C]=$WAVE)
draw=()
for letter in K B W A P H C; do
  points=''
  for ((y = 0; y < 16; y++)); do
    row=${PIXELS_16[y]}
    for ((x = 0; x < 16; x++)); do
      [[ ${row:x:1} == "$letter" ]] && points+="point $x,$y "
    done
  done
  draw+=(-fill "${COLOUR_OF[$letter]}" -draw "$points")
done
convert -size 16x16 xc:none +antialias "${draw[@]}" "${PNG_OPTIONS[@]}" "$out/kestrine-16.png"

# The Windows icon resource: both images in one file, 16 × 16 first.
convert "$out/kestrine-16.png" "$out/kestrine-32.png" "$out/kestrine.ico"

# The hicolor theme's larger sizes from the SVG, which is installed as the scalable icon.
# It follows the drawing above by hand: the same colours and shapes at 8 times the 32 x 32
# coordinates (taken at pixel edges, not centres), with the details that only larger sizes
# have room for: a dark ridge on the brow, a shadow along the lower lid, a rim to the iris.
for size in 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$out/kestrine.svg" |
    convert png:- "${PNG_OPTIONS[@]}" "$out/kestrine-$size.png"
done

#!/usr/bin/env bash
# Draws the uninstaller's icon, Uninstall/Uninstall.ico: 16 and 32 pixels, each at
# 4 and 8 bits per pixel, transparent outside the drawing. Needs ImageMagick.
set -euo pipefail
out="${1:-$(dirname "$0")/../Uninstall/Uninstall.ico}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A shaded box with a red removal badge, drawn large and scaled down.
convert -size 128x128 xc:none \
  \( -size 96x80 gradient:'#e8b878-#9a6630' \) -geometry +8+40 -composite \
  -fill '#7a4f22' -draw 'polygon 8,40 104,40 120,24 24,24' \
  -fill none -stroke '#5a3612' -strokewidth 4 -draw 'rectangle 8,40 104,120' \
  -stroke none -fill '#d8232a' -draw 'circle 92,92 92,60' \
  -fill white -draw 'rectangle 72,86 112,98' \
  "$work/master.png"

for size in 16 32; do
  convert "$work/master.png" -resize ${size}x${size} -channel A -threshold 50% +channel "$work/$size.png"
done
# 4 bits: at most 15 colours besides transparency, undithered at these sizes.
# 8 bits: up to 255, and more than 16 so that the writer keeps the depth.
convert \
  \( "$work/16.png" -dither None -colors 15 -type PaletteAlpha \) \
  \( "$work/16.png" -colors 255 -type PaletteAlpha \) \
  \( "$work/32.png" -dither None -colors 15 -type PaletteAlpha \) \
  \( "$work/32.png" -colors 255 -type PaletteAlpha \) \
  "$out"
identify "$out"

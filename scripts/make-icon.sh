#!/usr/bin/env bash
# Draws the installer's icon, app/updater.ico, at 16, 32, 48 and 256 pixels: a box
# with a green arrow going into it. Each size is drawn at its own scale from one
# 32-pixel design, so the 32-pixel image is pixel for pixel the hand-drawn one.
# Needs ImageMagick (scripts/install-deps.sh all installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

draw() {  # SIZE: one image of SIZE pixels
  local size=$1
  # c EDGE: an edge of the 32-pixel design (in pixel edges) as a drawing coordinate
  # (in pixel centres) at this size.
  c() { awk -v v="$1" -v k="$size" 'BEGIN { printf "%g", v * k / 32 - 0.5 }'; }
  local unit antialias=-antialias
  unit=$(awk -v k="$size" 'BEGIN { printf "%g", k / 32 }')
  [ "$size" -gt 32 ] || antialias=+antialias  # crisp pixels when small
  # Box from (4,12) to (28,29) with a border of one unit; arrow shaft from (13,2) to
  # (19,14), head from (10,14)-(22,14) to (16,20).
  convert -size "${size}x${size}" xc:none "$antialias" \
    -fill '#D09040' -stroke '#905020' -strokewidth "$unit" \
    -draw "rectangle $(c 4.5),$(c 12.5) $(c 27.5),$(c 28.5)" \
    -stroke none -fill '#30A020' \
    -draw "rectangle $(c 13),$(c 2) $(c 19),$(c 14)" \
    -draw "polygon $(c 10),$(c 14) $(c 22),$(c 14) $(c 16),$(c 20)" \
    "PNG32:$work/$size.png"
}
for size in 256 48 32 16; do draw "$size"; done
# No dates in the embedded PNG: the same drawing gives the same file.
convert "$work/256.png" "$work/48.png" "$work/32.png" "$work/16.png" -strip -define png:exclude-chunks=date,time \
  app/updater.ico
identify app/updater.ico

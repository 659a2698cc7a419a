#!/bin/sh
# Renders the committed PNG icon set from the SVG; run after changing the SVG.
# Needs rsvg-convert (librsvg2-bin) and optipng.
set -eu
cd "$(dirname "$0")"
for px in 16 32 48 64 128 256; do
  mkdir -p "${px}x${px}"
  rsvg-convert -w "$px" -h "$px" org.vocora.Vocora.svg -o "${px}x${px}/org.vocora.Vocora.png"
  optipng -quiet -o7 -strip all "${px}x${px}/org.vocora.Vocora.png"
done

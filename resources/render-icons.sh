#!/usr/bin/env bash
# Renders the program icon's PNG sizes from icons/fwupdater.svg. Run by hand after changing
# the SVG and commit the PNGs: the build itself needs no SVG renderer. Needs rsvg-convert
# (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "fwupdater-$size.png" fwupdater.svg
done

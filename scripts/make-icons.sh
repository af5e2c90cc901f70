#!/bin/bash
# Renders the hicolor PNGs from the icon's SVGs (the two smallest from the simpler drawing,
# which stays readable at 16 and 24 pixels). Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
id=org.kestrona.FolvaneBrowser
for s in 16 24 32 48 64 128 256 512; do
  src=$id.svg
  [ "$s" -le 24 ] && src=$id-small.svg
  mkdir -p hicolor/${s}x$s
  rsvg-convert -w "$s" -h "$s" "$src" -o hicolor/${s}x$s/$id.png
done

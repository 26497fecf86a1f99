#!/bin/sh
# Renders the PNG images from the team's SVGs (rsvg-convert, Debian package librsvg2-bin).
# The PNGs are committed; run this after changing an SVG.
set -e
cd "$(dirname "$0")"
rsvg-convert -w 720 -h 320 Background.svg -o Background.png
rsvg-convert -w 64 -h 64 icon.svg -o icon.png

#!/usr/bin/env bash
# Renders the launcher's artwork from the SVG drawings in this folder into the PNG files the
# program and the desktop use: the side banner at 1x and 2x, and the icon at 16, 32 and 48
# pixels, each with a 2x variant for high-density screens. The 16-pixel icon has a drawing of
# its own, simplified so it stays legible at that size.
# Needs rsvg-convert (Debian package librsvg2-bin); run it after changing a drawing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(dirname "$here")
render() {  # render <svg> <size WxH> <png>
    local w=${2%x*} h=${2#*x}
    mkdir -p "$(dirname "$3")"
    rsvg-convert -w "$w" -h "$h" "$here/$1" -o "$3"
}
render banner.svg 164x314 "$out/banner.png"
render banner.svg 328x628 "$out/banner@2x.png"
icons=$out/icons/hicolor
render velmora-launcher-small.svg 16x16 "$icons/16x16/apps/velmora-launcher.png"
render velmora-launcher-small.svg 32x32 "$icons/16x16@2/apps/velmora-launcher.png"
render velmora-launcher.svg 32x32 "$icons/32x32/apps/velmora-launcher.png"
render velmora-launcher.svg 64x64 "$icons/32x32@2/apps/velmora-launcher.png"
render velmora-launcher.svg 48x48 "$icons/48x48/apps/velmora-launcher.png"
render velmora-launcher.svg 96x96 "$icons/48x48@2/apps/velmora-launcher.png"
render velmora-launcher.svg 256x256 "$icons/256x256/apps/velmora-launcher.png"
mkdir -p "$icons/scalable/apps"
cp "$here/velmora-launcher.svg" "$icons/scalable/apps/velmora-launcher.svg"

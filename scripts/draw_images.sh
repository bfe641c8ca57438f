#!/usr/bin/env bash
# Draws the updater's three images into updater/src/images with ImageMagick:
#   velloran_logo.png          1024 x 1024 square logo (window corner)
#   velloran_banner.jpg        468 x 60 banner
#   velloran_logo_minimal.svg  the mark alone, as a vector drawing
# The mark is one set of path strings used by both the SVG and the raster drawings.
# Needs ImageMagick (apt-get install --no-install-recommends imagemagick) and the DejaVu fonts.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$top/updater/src/images"
mkdir -p "$out"
command -v convert >/dev/null || { echo "draw_images.sh: ImageMagick's convert is missing" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The mark in a 1024 x 1024 box: a V drawn as one round-capped stroke, with two voice arcs
# concentric about the V's right tip (698,372), from 70 to 20 degrees above the horizontal.
V_PATH="M 262 372 L 480 772 L 698 372"
# arc <radius> <svg|poly>: the arc as an SVG arc command, or as a polyline of 2-degree steps
# (ImageMagick 6 closes stroked arc paths, but strokes open polylines as they are).
arc() {
  awk -v r="$1" -v form="$2" 'BEGIN {
    pi = atan2(0, -1); cx = 698; cy = 372
    if (form == "svg") {
      printf "M %.1f %.1f A %d %d 0 0 1 %.1f %.1f", cx + r * cos(70 * pi / 180), cy - r * sin(70 * pi / 180),
             r, r, cx + r * cos(20 * pi / 180), cy - r * sin(20 * pi / 180)
      exit
    }
    for (a = 70; a >= 20; a -= 2)
      printf "%s %.1f %.1f ", (a == 70 ? "M" : "L"), cx + r * cos(a * pi / 180), cy - r * sin(a * pi / 180)
  }'
}
ARC1=$(arc 150 poly)
ARC2=$(arc 270 poly)
DEEP="#1b2552"
BRIGHT="#2f8fc4"
ACCENT="#ffb648"

# Square logo: rounded tile with a diagonal gradient, white V, amber arcs.
convert -size 1024x1024 -define gradient:angle=135 "gradient:$DEEP-$BRIGHT" "$tmp/fill.png"
convert -size 1024x1024 xc:none -fill white -draw "roundrectangle 0,0 1023,1023 230,230" "$tmp/mask.png"
convert "$tmp/fill.png" "$tmp/mask.png" -compose CopyOpacity -composite \
  -fill none -stroke white -strokewidth 120 \
  -draw "fill none stroke-linecap round stroke-linejoin round path '$V_PATH'" \
  -stroke "$ACCENT" -strokewidth 60 \
  -draw "fill none stroke-linecap round stroke-linejoin round path '$ARC1'" \
  -draw "fill none stroke-linecap round stroke-linejoin round path '$ARC2'" \
  -strip "PNG32:$out/velloran_logo.png"

# Vector logo: the mark alone on a transparent ground.
cat > "$out/velloran_logo_minimal.svg" <<SVG
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="1024" height="1024" viewBox="0 0 1024 1024">
  <title>Velloran</title>
  <g fill="none" stroke-linecap="round" stroke-linejoin="round">
    <path d="$V_PATH" stroke="$DEEP" stroke-width="120"/>
    <path d="$(arc 150 svg)" stroke="$BRIGHT" stroke-width="60"/>
    <path d="$(arc 270 svg)" stroke="$BRIGHT" stroke-width="60"/>
  </g>
</svg>
SVG

# Banner: dark gradient, the logo at the left, name and tag line, a thin amber rule.
convert -size 468x60 -define gradient:angle=90 "gradient:$DEEP-#23467a" "$tmp/banner.png"
convert "$out/velloran_logo.png" -resize 44x44 "$tmp/logo44.png"
convert "$tmp/banner.png" "$tmp/logo44.png" -geometry +12+8 -composite \
  -font DejaVu-Sans-Bold -pointsize 24 -fill white -annotate +68+31 "Velloran" \
  -font DejaVu-Sans -pointsize 11 -fill "#a9d3ee" -annotate +69+49 "Voice chat that keeps up with you" \
  -fill "$ACCENT" -draw "rectangle 0,57 467,59" \
  -strip -quality 92 "$out/velloran_banner.jpg"

identify "$out/velloran_logo.png" "$out/velloran_banner.jpg"

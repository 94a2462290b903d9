#!/usr/bin/env bash
# Makes the toolkit tests' skin package: copies the markup of SRC, draws the images with ImageMagick and
# zips the folder (deflate) into OUT_ZIP; writes a resource script OUT_RC embedding it as "ZIPRES" 141.
# Usage: make_fixture_skin.sh SRC STAGE OUT_ZIP OUT_RC
set -euo pipefail
src=$1 stage=$2 zip=$3 rc=$4
rm -rf "$stage"
mkdir -p "$stage/res"
cp "$src"/*.xml "$stage/"
# A 4x4 half-transparent red square, a two-frame GIF (red, then blue) and a BMP with a magenta key colour.
convert -size 4x4 xc:'rgba(255,0,0,0.5)' "PNG32:$stage/res/dot.png"
convert -delay 10 -size 16x16 xc:red -delay 10 -size 16x16 xc:blue -loop 0 "$stage/anim.gif"
convert -size 8x8 xc:'#FF00FF' -fill '#00FF00' -draw 'rectangle 0,0 3,7' -type TrueColor "BMP3:$stage/keyed.bmp"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip -- MainFrame1.xml item1.xml anim.gif keyed.bmp res/dot.png)
printf '141 ZIPRES "%s"\n' "$zip" > "$rc"

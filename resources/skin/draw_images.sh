#!/usr/bin/env bash
# Draws every image of the skin package with ImageMagick (Debian's `imagemagick`, version 6 `convert`).
# The results are committed beside this script; the build only zips the folder, it does not run this.
# Run it from anywhere: resources/skin/draw_images.sh
#
# Palette: header blue gradient, white cards on a light grey body, one blue for actions, green for the
# install action, grey-blue for secondary text. Small glyphs are drawn four times larger and scaled down
# so that their edges are smooth.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
mkdir -p res

IM=${IM:-convert}
CJK=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
LATIN_BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
# No time stamps in the files, so that redrawing an unchanged picture gives the same bytes.
PNGOPT=(-strip -define png:exclude-chunks=date,time)

BLUE='#1E7FE0'; BLUE_HOT='#3A93EC'; BLUE_DOWN='#1769BA'
GREEN='#19B466'; GREEN_HOT='#2BC477'; GREEN_DOWN='#129A55'
GREY_OFF='#B8C4D3'
BORDER='#DDE3EA'; BODY='#F4F6F9'; TEXT='#333333'; TEXT2='#7A8699'

# A thick circular arc with round ends, as filled shapes: ImageMagick 6 strokes arcs and long polylines
# with stray chords, so the band is drawn as a polygon (outer edge forward, inner edge back).
arc() { # cx cy r from-degrees to-degrees width (clockwise, 0 = east); draw with -fill, no stroke
  awk -v cx="$1" -v cy="$2" -v r="$3" -v a0="$4" -v a1="$5" -v w="$6" 'BEGIN {
    pi = atan2(0, -1); ro = r + w / 2; ri = r - w / 2; printf "polygon"
    for (a = a0; a < a1 + 2; a += 2) { t = (a > a1 ? a1 : a) * pi / 180; printf " %.2f,%.2f", cx + ro * cos(t), cy + ro * sin(t) }
    for (a = a1; a > a0 - 2; a -= 2) { t = (a < a0 ? a0 : a) * pi / 180; printf " %.2f,%.2f", cx + ri * cos(t), cy + ri * sin(t) }
    for (i = 0; i < 2; i++) { t = (i ? a1 : a0) * pi / 180; x = cx + r * cos(t); y = cy + r * sin(t)
      printf " circle %.2f,%.2f %.2f,%.2f", x, y, x + w / 2, y }
  }'
}

png() { # output, then ImageMagick arguments that build the picture
  local out=$1; shift
  "$IM" "$@" "${PNGOPT[@]}" "PNG32:$out"
}

# A glyph drawn on a transparent square of 4*size and scaled to size.
glyph() { # output size draw-arguments...
  local out=$1 size=$2; shift 2
  local big=$((size * 4))
  png "$out" -size "${big}x${big}" xc:none "$@" -resize "${size}x${size}"
}

# A rounded rectangle picture (w x h), filled, with an optional border, smooth edges.
rounded() { # output w h radius fill [border [borderwidth]]
  local out=$1 w=$2 h=$3 r=$4 fill=$5 border=${6:-none} bw=${7:-1}
  local W=$((w * 4)) H=$((h * 4)) R=$((r * 4)) B=$((bw * 4))
  local half=$((B / 2))
  if [ "$border" = none ]; then
    png "$out" -size "${W}x${H}" xc:none -fill "$fill" -draw "roundrectangle 0,0 $((W - 1)),$((H - 1)) $R,$R" \
      -resize "${w}x${h}!"
  else
    png "$out" -size "${W}x${H}" xc:none -fill "$fill" -stroke "$border" -strokewidth "$B" \
      -draw "roundrectangle $half,$half $((W - 1 - half)),$((H - 1 - half)) $R,$R" -resize "${w}x${h}!"
  fi
}

# ---------------------------------------------------------------------------------------------------------
# Header, caption logo, title-bar buttons
# ---------------------------------------------------------------------------------------------------------
png header_bg.png -size 100x800 gradient:'#1558B8'-'#1E8FE8' -rotate 90 \
  -fill '#FFFFFF10' -draw "circle 700,-20 800,60" -draw "circle 770,90 840,150" \
  -fill '#FFFFFF08' -draw "circle 610,110 690,170"

glyph logo.png 22 -fill white -draw "roundrectangle 0,0 87,87 18,18" \
  -fill "$BLUE" -draw "polygon 18,22 32,22 44,58 56,22 70,22 51,70 37,70"

title_button() { # name glyph-draw-args...; writes name_normal/_hot/_pushed (34x28)
  local name=$1; shift
  local g=("$@")
  png "${name}_normal.png" -size 136x112 xc:none "${g[@]}" -resize 34x28
  png "${name}_hot.png" -size 136x112 xc:'#FFFFFF26' "${g[@]}" -resize 34x28
  png "${name}_pushed.png" -size 136x112 xc:'#00000026' "${g[@]}" -resize 34x28
}
title_button btnmin -fill white -draw "rectangle 48,56 88,61"
title_button btnguanwang -fill none -stroke white -strokewidth 5 \
  -draw "circle 68,56 68,30" -draw "ellipse 68,56 11,26 0,360" -draw "line 42,56 94,56" \
  -draw "line 46,43 90,43" -draw "line 46,69 90,69"
close_x=(-stroke white -strokewidth 6 -draw "line 52,40 84,72" -draw "line 84,40 52,72")
png btnclose_normal.png -size 136x112 xc:none "${close_x[@]}" -resize 34x28
png btnclose_hot.png -size 136x112 xc:'#E81123' "${close_x[@]}" -resize 34x28
png btnclose_pushed.png -size 136x112 xc:'#B50E1C' "${close_x[@]}" -resize 34x28

# ---------------------------------------------------------------------------------------------------------
# The six top options: icon on top, text drawn by the control below it. 92x70, three states.
# ---------------------------------------------------------------------------------------------------------
# Each icon: white shapes, then shapes cut out of them (drawn on a 128x128 canvas).
ICON_HOME=(-fill white -draw "polygon 64,10 118,58 104,58 104,114 24,114 24,58 10,58")
CUT_HOME=(-draw "roundrectangle 52,76 76,114 3,3")
ICON_SYSBACKUP=(-fill none -stroke white -strokewidth 9 -draw "roundrectangle 12,18 116,92 8,8"
  -draw "line 64,92 64,110" -draw "line 36,112 92,112"
  -stroke none -fill white -draw "polygon 64,30 88,56 74,56 74,80 54,80 54,56 40,56")
CUT_SYSBACKUP=()
ICON_SYSRESTORE=(-fill white -draw "$(arc 64 64 46 200 500 10)" -draw "polygon 2,54 42,54 22,84"
  -draw "rectangle 58,40 70,68" -draw "polygon 58,62 88,78 82,88 58,74")
CUT_SYSRESTORE=()
ICON_DATABACKUP=(-fill white -draw "roundrectangle 8,16 58,40 6,6" -draw "roundrectangle 8,28 120,112 8,8")
CUT_DATABACKUP=(-draw "polygon 64,44 90,72 75,72 75,98 53,98 53,72 38,72")
ICON_DATARESTORE=("${ICON_DATABACKUP[@]}")
CUT_DATARESTORE=(-draw "polygon 64,100 90,72 75,72 75,46 53,46 53,72 38,72")
ICON_CONTACT=(-fill white -draw "roundrectangle 8,14 120,92 18,18" -draw "polygon 30,88 58,88 24,118")
CUT_CONTACT=(-draw "circle 40,53 40,62" -draw "circle 64,53 64,62" -draw "circle 88,53 88,62")

option_images() { # name; the icon comes from ICON_<KEY> and CUT_<KEY>
  local name=$1 key=$2
  local -n icon="ICON_$key" cut="CUT_$key"
  local iconfile
  iconfile=$(mktemp --suffix=.png)
  # The icon: 32x32 from a 128x128 drawing, with its cut-outs made transparent.
  if [ ${#cut[@]} -gt 0 ]; then
    "$IM" -size 128x128 xc:none "${icon[@]}" \( -size 128x128 xc:none -fill white "${cut[@]}" \) \
      -compose DstOut -composite -resize 32x32 "PNG32:$iconfile"
  else
    "$IM" -size 128x128 xc:none "${icon[@]}" -resize 32x32 "PNG32:$iconfile"
  fi
  png "${name}_normal.png" -size 92x70 xc:none "$iconfile" -geometry +30+8 -composite
  png "${name}_hot.png" -size 92x70 xc:none -fill '#FFFFFF1F' -draw "roundrectangle 0,0 91,69 6,6" \
    "$iconfile" -geometry +30+8 -composite
  png "${name}_selected.png" -size 92x70 xc:none -fill '#FFFFFF38' -draw "roundrectangle 0,0 91,69 6,6" \
    "$iconfile" -geometry +30+8 -composite \
    -fill "$BODY" -draw "polygon 38,70 46,63 54,70"
  rm -f "$iconfile"
}
option_images optmain HOME
option_images optbacksystem SYSBACKUP
option_images optrecosystem SYSRESTORE
option_images optbackdata DATABACKUP
option_images optrecodata DATARESTORE
option_images optcontact CONTACT

# ---------------------------------------------------------------------------------------------------------
# Buttons (stretched with corner='6,6,6,6'), cards, row separator
# ---------------------------------------------------------------------------------------------------------
rounded btn_primary_normal.png 32 32 4 "$BLUE"
rounded btn_primary_hot.png 32 32 4 "$BLUE_HOT"
rounded btn_primary_pushed.png 32 32 4 "$BLUE_DOWN"
rounded btn_primary_disabled.png 32 32 4 "$GREY_OFF"
rounded btn_install_normal.png 32 32 6 "$GREEN"
rounded btn_install_hot.png 32 32 6 "$GREEN_HOT"
rounded btn_install_pushed.png 32 32 6 "$GREEN_DOWN"
rounded btn_install_disabled.png 32 32 6 "$GREY_OFF"
rounded btn_plain_normal.png 32 32 4 white '#C9D2DE'
rounded btn_plain_hot.png 32 32 4 '#F3F8FE' "$BLUE"
rounded btn_plain_pushed.png 32 32 4 '#E3EFFC' "$BLUE_DOWN"
rounded card.png 32 32 6 white "$BORDER"
# Hover and press overlays for buttons whose picture the program swaps at run time (pause/continue).
rounded btn_overlay_hot.png 32 32 4 '#FFFFFF30'
rounded btn_overlay_pushed.png 32 32 4 '#0000001F'
png row_sep.png -size 4x4 xc:none -fill '#E6EAF0' -draw "line 0,3 3,3"

# The catalogue row's install button ("安装此系统"): normal, hot and pushed, 120x36.
rounded select_normal.png 120 36 4 "$BLUE"
rounded hot.png 120 36 4 "$BLUE_HOT"
rounded pushed.png 120 36 4 "$BLUE_DOWN"

# ---------------------------------------------------------------------------------------------------------
# Data-folder tiles (check options): 160x112, three states, icon in the upper half.
# ---------------------------------------------------------------------------------------------------------
TILE_DOC=(-fill '#1E7FE0' -draw "polygon 30,12 78,12 100,34 100,116 30,116"
  -fill '#8CC2F5' -draw "polygon 78,12 100,34 78,34"
  -fill white -draw "rectangle 44,52 86,57" -draw "rectangle 44,68 86,73" -draw "rectangle 44,84 72,89")
TILE_FAV=(-fill '#F5A623' -draw "polygon 64,10 78,46 116,48 86,72 96,110 64,88 32,110 42,72 12,48 50,46")
TILE_DESK=(-fill '#1E7FE0' -draw "roundrectangle 10,16 118,92 8,8" -fill '#8CC2F5' -draw "rectangle 20,26 108,80"
  -fill '#1E7FE0' -draw "polygon 52,92 76,92 82,110 46,110" -draw "roundrectangle 36,106 92,116 4,4")
tile_images() { # name icon-draw-args...
  local name=$1; shift
  local icon=("$@")
  local iconfile check
  iconfile=$(mktemp --suffix=.png)
  check=$(mktemp --suffix=.png)
  "$IM" -size 128x128 xc:none "${icon[@]}" -resize 40x40 "PNG32:$iconfile"
  "$IM" -size 80x80 xc:none -fill "$BLUE" -draw "circle 40,40 40,2" \
    -fill none -stroke white -strokewidth 8 -draw "polyline 20,42 34,56 60,28" -resize 20x20 "PNG32:$check"
  png "tile_${name}_normal.png" -size 640x448 xc:none -fill white -stroke "$BORDER" -strokewidth 4 \
    -draw "roundrectangle 2,2 637,445 24,24" -resize 160x112 "$iconfile" -geometry +60+18 -composite
  png "tile_${name}_hot.png" -size 640x448 xc:none -fill '#F7FBFF' -stroke '#8FC1F2' -strokewidth 4 \
    -draw "roundrectangle 2,2 637,445 24,24" -resize 160x112 "$iconfile" -geometry +60+18 -composite
  png "tile_${name}_selected.png" -size 640x448 xc:none -fill '#EEF6FF' -stroke "$BLUE" -strokewidth 8 \
    -draw "roundrectangle 4,4 635,443 24,24" -resize 160x112 "$iconfile" -geometry +60+18 -composite \
    "$check" -geometry +132+8 -composite
  rm -f "$iconfile" "$check"
}
tile_images doc "${TILE_DOC[@]}"
tile_images fav "${TILE_FAV[@]}"
tile_images desk "${TILE_DESK[@]}"

# ---------------------------------------------------------------------------------------------------------
# Main page illustration: a monitor with a refresh arrow on its screen (190x150).
# ---------------------------------------------------------------------------------------------------------
png main_pic.png -size 760x600 xc:none \
  -fill '#E8F2FD' -draw "circle 380,300 380,20" \
  -fill '#2B3A4F' -draw "roundrectangle 130,110 630,430 24,24" \
  -fill '#3D9BF0' -draw "rectangle 156,136 604,404" \
  -fill '#2B3A4F' -draw "polygon 330,430 430,430 450,510 310,510" -draw "roundrectangle 250,500 510,530 12,12" \
  -fill white -draw "$(arc 380 270 90 210 500 26)" -draw "polygon 262,236 338,236 300,300" \
  -resize 190x150

# ---------------------------------------------------------------------------------------------------------
# Catalogue row pictures xt1.png .. xt12.png (64x64): a coloured tile with a generic window glyph and the
# release written under it.
# ---------------------------------------------------------------------------------------------------------
XT_COLOURS=('#2F80ED' '#27AE60' '#1E7FE0' '#8E44AD' '#00A3A3' '#0078D7' '#E67E22' '#34495E' '#2C3E91' '#16A085' '#7F8C8D' '#C0392B')
XT_TEXTS=('XP' '7' '7' '8' '8.1' '10' 'Vista' '2003' '2008' '2012' '2000' 'PE')
for i in $(seq 1 12); do
  colour=${XT_COLOURS[$((i - 1))]}
  label=${XT_TEXTS[$((i - 1))]}
  size=92
  [ ${#label} -ge 4 ] && size=70
  [ ${#label} -eq 3 ] && size=84
  png "xt$i.png" -size 256x256 xc:none -fill "$colour" -draw "roundrectangle 0,0 255,255 40,40" \
    -fill '#FFFFFF33' -draw "polygon 0,180 255,90 255,255 0,255" \
    -fill none -stroke white -strokewidth 10 -draw "roundrectangle 56,34 200,122 10,10" \
    -stroke none -fill white -draw "rectangle 56,34 200,56" \
    -fill "$colour" -draw "circle 176,45 176,50" -draw "circle 160,45 160,50" \
    -fill white -font "$LATIN_BOLD" -pointsize "$size" -gravity north -annotate +0+136 "$label" \
    -resize 64x64
done

# "热门" badge of the catalogue rows (44x20).
png Img_53.png -size 176x80 xc:none -fill '#FF5A36' -draw "roundrectangle 0,0 175,79 16,16" \
  -fill '#FF8A3D' -draw "roundrectangle 0,0 175,40 16,16" -draw "rectangle 0,24 175,40" \
  -fill '#FF5A36' -draw "rectangle 0,40 175,52" \
  -fill white -font "$CJK" -pointsize 52 -gravity center -annotate +0+0 "热门" -resize 44x20

# ---------------------------------------------------------------------------------------------------------
# Status icons (21x18): cloud with a check (connected) and grey cloud with a cross (not reachable).
# ---------------------------------------------------------------------------------------------------------
cloud() { # output cloud-colour mark-colour mark-draw
  local out=$1 colour=$2 mark=$3 markdraw=$4
  png "$out" -size 84x72 xc:none -fill "$colour" \
    -draw "circle 30,36 30,18" -draw "circle 50,30 50,8" -draw "circle 66,42 66,26" \
    -draw "roundrectangle 8,36 80,62 13,13" \
    -fill none -stroke "$mark" -strokewidth 7 -draw "$markdraw" -resize 21x18
}
cloud res/Img_15.png '#19B466' white "polyline 30,42 40,52 58,32"
cloud res/Img_16.png '#9AA5B4' '#E53935' "line 34,30 56,52 line 56,30 34,52"

# ---------------------------------------------------------------------------------------------------------
# Download page: animation, pause/continue and back buttons, the "finished" page background.
# ---------------------------------------------------------------------------------------------------------
frames=()
tmpdir=$(mktemp -d)
for f in $(seq 0 11); do
  a0=$((f * 30 - 90)); a1=$((a0 + 100))
  bob=$(( (f % 6 < 3 ? f % 6 : 6 - f % 6) * 8 ))
  "$IM" -size 320x320 xc:white \
    -fill '#EEF5FD' -draw "circle 160,160 160,36" \
    -fill none -stroke '#DCE8F6' -strokewidth 14 -draw "circle 160,160 160,22" \
    -stroke none -fill "$BLUE" -draw "$(arc 160 160 138 $a0 $a1 14)" \
    -draw "circle 130,150 130,118" -draw "circle 172,136 172,96" \
    -draw "circle 204,160 204,130" -draw "roundrectangle 92,150 232,192 21,21" \
    -fill white -draw "rectangle 152,$((128 + bob)) 168,$((160 + bob))" \
    -draw "polygon 138,$((158 + bob)) 182,$((158 + bob)) 160,$((182 + bob))" \
    -resize 160x160 "$tmpdir/f$(printf %02d "$f").png"
  frames+=("$tmpdir/f$(printf %02d "$f").png")
done
"$IM" -delay 8 -loop 0 "${frames[@]}" -strip downloading.GIF
rm -rf "$tmpdir"

action_image() { # output background-fill border text icon-draw...
  local out=$1 fill=$2 border=$3 fg=$4 text=$5; shift 5
  local stroke=()
  [ "$border" != none ] && stroke=(-stroke "$border" -strokewidth 4)
  png "$out" -size 480x144 xc:none -fill "$fill" "${stroke[@]}" -draw "roundrectangle 2,2 477,141 16,16" \
    -stroke none "$@" \
    -fill "$fg" -font "$CJK" -pointsize 56 -gravity west -annotate +148+0 "$text" -resize 120x36
}
action_image pause.png "$BLUE" none white "暂停下载" -fill white -draw "rectangle 92,50 104,94" -draw "rectangle 116,50 128,94"
action_image continue.png "$GREEN" none white "继续下载" -fill white -draw "polygon 96,46 96,98 134,72"
action_image reselect.png white '#C9D2DE' "$TEXT" "重新选择" \
  -fill none -stroke "$TEXT" -strokewidth 8 -draw "polyline 118,48 94,72 118,96" -draw "line 96,72 136,72" -stroke none
action_image reselect_hot.png '#F3F8FE' "$BLUE" "$BLUE" "重新选择" \
  -fill none -stroke "$BLUE" -strokewidth 8 -draw "polyline 118,48 94,72 118,96" -draw "line 96,72 136,72" -stroke none

png download_done.png -size 800x450 xc:"$BODY" \
  -fill '#DDF5E8' -draw "circle 400,140 400,66" \
  -fill "$GREEN" -draw "circle 400,140 400,86" \
  -fill none -stroke white -strokewidth 12 -draw "polyline 372,142 394,164 430,120" -stroke none \
  -fill "$TEXT" -font "$CJK" -pointsize 26 -gravity north -annotate +0+240 "系统镜像下载完成" \
  -fill "$TEXT2" -pointsize 15 -annotate +0+286 "正在为您准备重装环境，请按提示重启电脑，系统将自动完成安装。" \
  -annotate +0+312 "安装过程中请勿断电或强制关机。"

# ---------------------------------------------------------------------------------------------------------
# Vertical scroll bar sprite (64x80 BMP, magenta #FF00FF is transparent). No smoothing here: a blended edge
# pixel would not match the key colour and would show as a pink fringe.
#   up arrow     normal 0,0,16,16    hot 16,0,32,16    pushed 32,0,48,16
#   down arrow   normal 0,16,16,32   hot 16,16,32,32   pushed 32,16,48,32
#   thumb        normal 0,32,16,80   hot 16,32,32,80   pushed 32,32,48,80   (corner 0,6,0,6)
#   track        48,0,64,80
# ---------------------------------------------------------------------------------------------------------
sb=(-size 64x80 xc:'#FF00FF' +antialias)
for s in 0 1 2; do
  x=$((s * 16))
  case $s in 0) c='#B4BECB' ;; 1) c='#8C99AA' ;; 2) c='#6E7C8F' ;; esac
  sb+=(-fill "$c"
    -draw "polygon $((x + 4)),10 $((x + 8)),5 $((x + 12)),10"
    -draw "polygon $((x + 4)),21 $((x + 8)),26 $((x + 12)),21"
    -draw "roundrectangle $((x + 4)),33 $((x + 11)),78 3,3")
done
sb+=(-fill '#EEF1F5' -draw "rectangle 52,0 59,79")
"$IM" "${sb[@]}" -type TrueColor -strip BMP3:scrollbar.bmp

echo "draw_images: done"

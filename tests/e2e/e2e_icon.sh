#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program icon is one drawing: the SVG, the PNGs at every hicolor size and the Windows icon
# (16 to 64 as DIBs, 256 as PNG) show the same picture, the committed app/tavrene.ico is what the
# generator draws now, and the picture is the XY pane's yellow on its gray.
# Usage: e2e_icon.sh DRAW_ICON SOURCE_DIR WORK_DIR
DRAW=${1:?draw_icon}
SOURCE=${2:?source folder}
E2E_WORK=${3:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"
command -v rsvg-convert >/dev/null || e2e_fail "rsvg-convert missing (make test-deps installs it)"
IM=/usr/bin/convert-im6.q16

DRAWN=$E2E_WORK/drawn
"$DRAW" "$DRAWN" || e2e_fail "draw_icon failed"
SVG=$DRAWN/hicolor/scalable/apps/tavrene.svg
png() { echo "$DRAWN/hicolor/$1x$1/apps/tavrene.png"; }

frames=$(identify -format '%m %w %h\n' "$DRAWN/tavrene.ico" | tr '\n' ',')
e2e_log "tavrene.ico: $frames"
[ "$frames" = "ICO 16 16,ICO 24 24,ICO 32 32,ICO 48 48,ICO 64 64,PNG 256 256," ] ||
    e2e_fail "the Windows icon does not hold 16, 24, 32, 48, 64 and 256"
# Pixel for pixel (the PNG inside may be compressed differently by another zlib): the committed
# icon against a fresh one, and each image against the PNG of its size.
ico_sizes=(16 24 32 48 64 256)
for i in "${!ico_sizes[@]}"; do
    differ=$(compare -metric AE "$DRAWN/tavrene.ico[$i]" "$SOURCE/app/tavrene.ico[$i]" null: 2>&1)
    [ "$differ" = 0 ] ||
        e2e_fail "app/tavrene.ico is stale (image $i: $differ pixels): build the target icon"
    differ=$(compare -metric AE "$DRAWN/tavrene.ico[$i]" "$(png "${ico_sizes[$i]}")" null: 2>&1)
    [ "$differ" = 0 ] ||
        e2e_fail "the Windows icon and the PNG differ at ${ico_sizes[$i]} in $differ pixels"
done
for size in 16 22 24 32 48 64 128 256; do
    identify -format '%m %w %h' "$(png "$size")" | grep -qx "PNG $size $size" ||
        e2e_fail "the $size x $size PNG is not $size x $size"
done
# The SVG, drawn by librsvg, against the bitmaps: only antialiasing may differ (a picture moved by
# one pixel or mirrored is 0.07 to 0.14 away).
for size in 48 256; do
    rsvg-convert -w "$size" -h "$size" "$SVG" -o "$E2E_WORK/svg$size.png" || e2e_fail "bad SVG"
    rmse=$(compare -metric RMSE "$E2E_WORK/svg$size.png" "$(png "$size")" null: 2>&1 |
        sed 's/.*(\(.*\))/\1/')
    e2e_log "SVG against the $size PNG: normalised RMSE $rmse"
    awk -v r="$rmse" 'BEGIN { exit !(r < 0.02) }' || e2e_fail "the SVG and the $size PNG differ"
done
colours=$($IM "$(png 32)" -format %c histogram:info:-)
grep -q '(255,255,100)' <<<"$colours" && grep -q '(128,128,128)' <<<"$colours" ||
    e2e_fail "not yellow on gray: $colours"
# The same bytes on every run.
"$DRAW" "$E2E_WORK/again" || e2e_fail "draw_icon failed the second time"
diff -r "$DRAWN" "$E2E_WORK/again" >/dev/null || e2e_fail "two runs drew different files"
e2e_log PASS

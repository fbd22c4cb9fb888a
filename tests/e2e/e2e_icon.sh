#!/bin/bash
# The program icon: the committed files are what the generator draws, the .ico is one 32 x 32
# 16-colour image, and the desktop entry's PNG is the same picture.
# Usage: e2e_icon.sh DRAW_ICON SOURCE_DIR WORK_DIR
DRAW=${1:?draw_icon}
SOURCE=${2:?source folder}
E2E_WORK=${3:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

"$DRAW" "$E2E_WORK/tavrene.ico" "$E2E_WORK/tavrene.png" || e2e_fail "draw_icon failed"
cmp "$E2E_WORK/tavrene.ico" "$SOURCE/app/tavrene.ico" || e2e_fail "app/tavrene.ico is stale"
cmp "$E2E_WORK/tavrene.png" "$SOURCE/packaging/tavrene.png" || e2e_fail "tavrene.png is stale"
info=$(identify -format '%m %w %h %z %[BitsPerPixel]\n' "$SOURCE/app/tavrene.ico" 2>/dev/null ||
    identify -format '%m %w %h %z\n' "$SOURCE/app/tavrene.ico")
e2e_log "icon: $info"
[ "$(echo "$info" | wc -l)" -eq 1 ] || e2e_fail "the icon holds more than one image"
[[ $info == "ICO 32 32 4"* ]] || e2e_fail "the icon is not 32 x 32 with 4 bits per pixel"
identify -format '%w %h\n' "$SOURCE/packaging/tavrene.png" | grep -qx '32 32' ||
    e2e_fail "the PNG is not 32 x 32"
differ=$(compare -metric AE "$SOURCE/app/tavrene.ico" "$SOURCE/packaging/tavrene.png" null: 2>&1)
[ "$differ" = 0 ] || e2e_fail "the PNG and the icon differ in $differ pixels"
# The picture: the XY pane's gray and yellow, and the figure crossing at the centre.
colours=$(/usr/bin/convert-im6.q16 "$SOURCE/packaging/tavrene.png" -format %c histogram:info:-)
grep -q '(255,255,100)' <<<"$colours" && grep -q '(128,128,128)' <<<"$colours" ||
    e2e_fail "not yellow on gray: $colours"
e2e_log PASS

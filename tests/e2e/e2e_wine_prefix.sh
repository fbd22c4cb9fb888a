#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Creates the Wine prefix the Windows tests share (once per test run): Wine's own window frames
# (there is no window manager), the caption glyph font, and a Japanese locale for the dialog.
# Usage: e2e_wine_prefix.sh ROOT
ROOT=${1:?root folder}
E2E_WORK=$ROOT/setup
rm -rf "$ROOT"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

mkdir -p "$ROOT/locale"
localedef -i ja_JP -f UTF-8 "$ROOT/locale/ja_JP.UTF-8" ||
    e2e_fail "could not build the ja_JP.UTF-8 locale"
e2e_wine_env "$ROOT"
e2e_start_wineserver
unset DISPLAY
# wineboot failed at once here one time (4.5 s in, with every message of Wine's turned off), and
# in none of the runs since, ten of them in a row on purpose: should it fail again, Wine's own
# errors say why.
if ! WINEDEBUG=err+all e2e_wine 120 wineboot -i 2>"$E2E_WORK/wineboot.log"; then
    e2e_fail "wineboot failed: $(tail -n 20 "$E2E_WORK/wineboot.log")"
fi
e2e_wine 30 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f ||
    e2e_fail "could not set Managed=N"
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" ||
    e2e_fail "no marlett font"
e2e_log "Wine prefix ready in $WINEPREFIX"

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cmake --install puts the program, its desktop entry and its icon where a desktop finds them.
# Usage: e2e_install.sh BUILD_DIR WORK_DIR
BUILD=${1:?build folder}
E2E_WORK=${2:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

PREFIX=$E2E_WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" >"$E2E_WORK/install.log" ||
    { cat "$E2E_WORK/install.log"; e2e_fail "install failed"; }
for f in bin/tavrene share/applications/tavrene.desktop share/icons/hicolor/32x32/apps/tavrene.png; do
    [ -s "$PREFIX/$f" ] || e2e_fail "$f is not installed"
done
[ -x "$PREFIX/bin/tavrene" ] || e2e_fail "bin/tavrene is not executable"
! readelf -d "$PREFIX/bin/tavrene" | grep -Eq 'RPATH|RUNPATH' ||
    e2e_fail "the installed program still points at the build tree"
DESKTOP=$PREFIX/share/applications/tavrene.desktop
for key in 'Type=Application' 'Name=Tavrene' 'Exec=tavrene' 'Icon=tavrene' 'Terminal=false'; do
    grep -qx "$key" "$DESKTOP" || e2e_fail "the desktop entry lacks $key"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$DESKTOP" || e2e_fail "the desktop entry is not valid"
fi
e2e_log "installed: $(cd "$PREFIX" && find . -type f | sort | tr '\n' ' ')"
e2e_log PASS

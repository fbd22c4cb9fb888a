#!/bin/bash
# The Debian package: built with CPack, it declares the shared libraries it needs (and the Qt
# platform plugins, which nothing links against), holds the program, desktop entry and icon, and
# the program unpacked from it starts under X and ends on a close with exit code 0.
# Usage: e2e_package.sh BUILD_DIR WORK_DIR
BUILD=${1:?build folder}
E2E_WORK=${2:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$E2E_WORK/out" >"$E2E_WORK/cpack.log" 2>&1 ||
    { cat "$E2E_WORK/cpack.log"; e2e_fail "cpack failed"; }
DEB=$(find "$E2E_WORK/out" -maxdepth 1 -name 'tavrene_*.deb' | head -n 1)
[ -n "$DEB" ] || e2e_fail "no .deb made"
depends=$(dpkg-deb -f "$DEB" Depends)
e2e_log "$(basename "$DEB"): Depends: $depends"
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpulse0 \
    qt6-qpa-plugins; do
    tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | grep -qxF "$dep" ||
        e2e_fail "the package does not depend on $dep"
done
! grep -qi multimedia <<<"$depends" || e2e_fail "the package still pulls in Qt Multimedia"
dpkg-deb -c "$DEB" >"$E2E_WORK/contents"
for f in ./usr/bin/tavrene ./usr/share/applications/tavrene.desktop \
    ./usr/share/icons/hicolor/32x32/apps/tavrene.png; do
    grep -q " $f\$" "$E2E_WORK/contents" || e2e_fail "the package lacks $f"
done
! grep -Eq 'tone_check|shot_check|x11_close|draw_icon' "$E2E_WORK/contents" ||
    e2e_fail "test tools went into the package"

ROOT=$E2E_WORK/root
dpkg -x "$DEB" "$ROOT" || e2e_fail "dpkg -x failed"
e2e_start_pulse
e2e_start_xvfb
e2e_spawn "$ROOT/usr/bin/tavrene" >"$E2E_WORK/program.log" 2>&1
APP=$E2E_LAST_PID
WINDOW=
window_shown() { WINDOW=$(e2e_find_window "SSB Tavrene Ver 1.2") && [ -n "$WINDOW" ]; }
e2e_wait_until 20 window_shown || e2e_fail "the packaged program shows no window"
"$BUILD/tools/x11_close/x11_close" "$WINDOW" || e2e_fail "could not send the close request"
e2e_wait_exit "$APP" 10 || e2e_fail "the packaged program did not end on the close"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log PASS

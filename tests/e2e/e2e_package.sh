#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: built with CPack, lintian finds no error and no warning in it; it declares
# the shared libraries it needs, the Qt platform plugins (which nothing links against) and the
# dialog's font; it holds the programs, a manual page for each that renders cleanly and lists
# the options the program's --help lists, the desktop entry and AppStream metadata (both valid),
# the icons, the copyright file and the changelog; and the program unpacked from it starts under
# X and ends on a close with exit code 0.
# Usage: e2e_package.sh BUILD_DIR WORK_DIR
BUILD=${1:?build folder}
E2E_WORK=${2:?work folder}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"
for tool in lintian desktop-file-validate appstreamcli man; do
    command -v $tool >/dev/null || e2e_fail "$tool missing (make test-deps installs it)"
done

cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$E2E_WORK/out" >"$E2E_WORK/cpack.log" 2>&1 ||
    { cat "$E2E_WORK/cpack.log"; e2e_fail "cpack failed"; }
DEB=$(find "$E2E_WORK/out" -maxdepth 1 -name 'tavrene_*.deb' | head -n 1)
[ -n "$DEB" ] || e2e_fail "no .deb made"

# lintian's own checks, informational tags aside; as root it wants --allow-root.
lintian --allow-root "$DEB" >"$E2E_WORK/lintian.log" 2>&1
rc=$?
e2e_log "lintian: exit code $rc, $(grep -c . "$E2E_WORK/lintian.log") tags"
grep -E '^[EW]: ' "$E2E_WORK/lintian.log" && e2e_fail "lintian reports errors or warnings"
[ "$rc" -eq 0 ] || { cat "$E2E_WORK/lintian.log"; e2e_fail "lintian failed"; }

depends=$(dpkg-deb -f "$DEB" Depends)
e2e_log "$(basename "$DEB"): Depends: $depends"
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpulse0 \
    qt6-qpa-plugins fonts-ipafont-gothic; do
    tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | grep -qxF "$dep" ||
        e2e_fail "the package does not depend on $dep"
done
! grep -qi multimedia <<<"$depends" || e2e_fail "the package still pulls in Qt Multimedia"
dpkg-deb -c "$DEB" >"$E2E_WORK/contents"
for f in ./usr/bin/tavrene ./usr/share/applications/tavrene.desktop \
    ./usr/share/metainfo/io.github.tavrene.Tavrene.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/tavrene.svg \
    ./usr/share/doc/tavrene/copyright ./usr/share/doc/tavrene/changelog.gz; do
    grep -q " $f\$" "$E2E_WORK/contents" || e2e_fail "the package lacks $f"
done
for size in 16 22 24 32 48 64 128 256; do
    grep -q " ./usr/share/icons/hicolor/${size}x$size/apps/tavrene.png\$" "$E2E_WORK/contents" ||
        e2e_fail "the package lacks the $size x $size icon"
done
! grep -Eq 'tone_check|shot_check|x11_close|draw_icon' "$E2E_WORK/contents" ||
    e2e_fail "test tools went into the package"

ROOT=$E2E_WORK/root
dpkg -x "$DEB" "$ROOT" || e2e_fail "dpkg -x failed"
desktop-file-validate "$ROOT/usr/share/applications/tavrene.desktop" ||
    e2e_fail "the desktop entry is not valid"
appstreamcli validate --no-net "$ROOT/usr/share/metainfo/io.github.tavrene.Tavrene.metainfo.xml" \
    >"$E2E_WORK/appstream.log" 2>&1 ||
    { cat "$E2E_WORK/appstream.log"; e2e_fail "the AppStream metadata is not valid"; }
grep -q '^Upstream-Name: Tavrene$' "$ROOT/usr/share/doc/tavrene/copyright" &&
    grep -q '/usr/share/common-licenses/GPL-3' "$ROOT/usr/share/doc/tavrene/copyright" ||
    e2e_fail "the copyright file is not the machine-readable GPL-3+ one"

# Every program has a page that renders without a warning. Where the program answers --help, the
# page shows its usage and every option it lists; a program without --help (tavrene takes no
# arguments) is started without a display, so it ends at once, and its page says it has none.
for program in "$ROOT"/usr/bin/*; do
    name=$(basename "$program")
    page=$ROOT/usr/share/man/man1/$name.1.gz
    [ -s "$page" ] || e2e_fail "$name has no manual page"
    MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" >"$E2E_WORK/$name.txt" \
        2>"$E2E_WORK/$name.warnings" || e2e_fail "man cannot show the page of $name"
    [ ! -s "$E2E_WORK/$name.warnings" ] ||
        { cat "$E2E_WORK/$name.warnings"; e2e_fail "the page of $name renders with warnings"; }
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES; do
        grep -qx "$section" "$E2E_WORK/$name.txt" || e2e_fail "the page of $name has no $section"
    done
    # The page's text with hyphens as typed and one space between words.
    sed 's/‐/-/g' "$E2E_WORK/$name.txt" | tr -s ' \n' '  ' >"$E2E_WORK/$name.flat"
    flat=$(<"$E2E_WORK/$name.flat")
    env -u DISPLAY -u WAYLAND_DISPLAY PULSE_SERVER=unix:/nonexistent timeout -k 2 10 \
        "$program" --help >"$E2E_WORK/$name.help" 2>/dev/null
    if [ $? -eq 0 ]; then
        usage=$(sed -n 's/^Usage: //p' "$E2E_WORK/$name.help" | tr -s ' ')
        [ -n "$usage" ] || e2e_fail "$name --help shows no usage line"
        grep -qF "$usage" <<<"$flat" || e2e_fail "the page of $name lacks the usage: $usage"
        options=$(grep -E '^ {1,4}-' "$E2E_WORK/$name.help" | sed -E 's/^ +//; s/  .*//')
        [ -n "$options" ] || e2e_fail "$name --help lists no options"
        while read -r option; do
            grep -qF " $option " <<<"$flat" || e2e_fail "the page of $name lacks $option"
        done <<<"$options"
        e2e_log "$name: page matches --help ($(wc -l <<<"$options") options)"
    else
        grep -A1 -x OPTIONS "$E2E_WORK/$name.txt" | grep -q 'None' ||
            e2e_fail "$name takes no --help, yet its page lists options"
    fi
done
grep -q 'Two-tone test signal' "$E2E_WORK/tavrene.flat" &&
    grep -q 'Returned signal' "$E2E_WORK/tavrene.flat" ||
    e2e_fail "the page of tavrene does not name its sound streams"

e2e_start_pulse
e2e_start_xvfb
e2e_spawn "$ROOT/usr/bin/tavrene" >"$E2E_WORK/program.log" 2>&1
APP=$E2E_LAST_PID
WINDOW=
window_shown() { WINDOW=$(e2e_find_window "SSB Tavrene Ver 1.2") && [ -n "$WINDOW" ]; }
e2e_wait_until 20 window_shown || e2e_fail "the packaged program shows no window"
"$BUILD/tests/tools/x11_close/x11_close" "$WINDOW" || e2e_fail "could not send the close request"
e2e_wait_exit "$APP" 10 || e2e_fail "the packaged program did not end on the close"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log PASS

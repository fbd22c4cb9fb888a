#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows release as a user gets it: version resources and manifests read back from the
# programs, the portable zip's contents, and the installer under Wine, silent, per machine and per
# user: files, shortcuts and "Apps & features" entries, the installed tavrene.exe starting from
# its folder, and each entry's own silent uninstall leaving the prefix as it was.
# Usage: e2e_windows_package.sh WINDOWS_BUILD_DIR ARTIFACTS_DIR WORK_DIR WINE_ROOT
BUILD=${1:?Windows build} ARTIFACTS=${2:?artifacts} E2E_WORK=${3:?work} WINE_ROOT=${4:?Wine root}
rm -rf "$E2E_WORK" && mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

cmake --build "$BUILD" --target windows_package || e2e_fail "windows_package failed"
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
for exe in tavrene tavrene-meter; do
    x86_64-w64-mingw32-windres -i "$BUILD/$exe.exe" -O rc >"$E2E_WORK/$exe.rc" &&
        x86_64-w64-mingw32-objdump -p "$BUILD/$exe.exe" >"$E2E_WORK/$exe.pe" ||
        e2e_fail "cannot read $exe.exe"
    for line in "FILEVERSION ${VERSION//./, }, 0" "PRODUCTVERSION ${VERSION//./, }, 0" \
        "\"FileVersion\", \"$VERSION\"" "\"ProductVersion\", \"$VERSION\"" \
        "\"OriginalFilename\", \"$exe.exe\"" '"FileDescription", "Tavrene' 'level=""asInvoker""' \
        '<gdiScaling'; do
        grep -qF -- "$line" "$E2E_WORK/$exe.rc" || e2e_fail "$exe.exe lacks $line"
    done
    [ "$(grep -c '<supportedOS Id=' "$E2E_WORK/$exe.rc")" -eq 4 ] ||
        e2e_fail "$exe.exe: not Windows 7 to 11"
    xmllint --noout "$BUILD/windows-version/$exe.manifest" || e2e_fail "$exe.manifest is not XML"
    grep -q '^Time/Date.*1970$' "$E2E_WORK/$exe.pe" || e2e_fail "$exe.exe carries its link time"
done

# The zip: one folder, the programs as built, the texts with Windows line ends.
ZIP=$BUILD/tavrene-$VERSION-portable-x64.zip FOLDER=$E2E_WORK/zip/tavrene-$VERSION
unzip -q "$ZIP" -d "$E2E_WORK/zip" || e2e_fail "cannot unpack $ZIP"
[ "$(cd "$E2E_WORK/zip" && find . | sort | tr '\n' ' ')" = ". ./tavrene-$VERSION $(
    printf "./tavrene-$VERSION/%s " LICENSE.txt README.txt tavrene-meter.exe tavrene.exe)" ] ||
    e2e_fail "the zip holds: $(unzip -Z1 "$ZIP" | tr '\n' ' ')"
cmp "$FOLDER/tavrene.exe" "$BUILD/tavrene.exe" &&
    cmp "$FOLDER/tavrene-meter.exe" "$BUILD/tavrene-meter.exe" ||
    e2e_fail "the zip's programs are not the build's"
! grep -qv $'\r$' "$FOLDER/README.txt" || e2e_fail "README.txt has a line without CR LF"

e2e_wine_env "$WINE_ROOT"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" # no Linux menu entries
C=$WINEPREFIX/drive_c
# Files (but NSIS's temporary copy of its uninstaller, which Windows deletes at the next restart)
# and registry lines naming us, read with no wineserver running, so the registry files are whole.
prefix_state() {
    (cd "$C" && find . | grep -v '^\./users/[^/]*/Temp/~nsu[0-9]*\.tmp' | sort) &&
        { grep -ih tavrene "$WINEPREFIX"/*.reg || [ $? -eq 1 ]; } | sort
}
prefix_state >"$E2E_WORK/before" || e2e_fail "no Wine prefix in $WINE_ROOT"
start_server() { e2e_start_wineserver && SERVER=$E2E_LAST_PID; }
stop_server() { timeout 10 "$E2E_WINESERVER" -k; e2e_stop_pid "$SERVER"; }
unix_path() { local p=${1#C:\\}; echo "$C/${p//\\//}"; }

PROFILE="C:\\users\\${USER:-$(id -un)}\\AppData" MENU='Microsoft\Windows\Start Menu\Programs'
# MODE|FOLDER|START_MENU|REGISTRY_ROOT of each kind of installation.
MODES=("AllUsers|C:\\Program Files\\Tavrene|C:\\ProgramData\\$MENU|HKLM"
    "CurrentUser|$PROFILE\\Local\\Programs\\Tavrene|$PROFILE\\Roaming\\$MENU|HKCU")
KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrene'
start_server
for row in "${MODES[@]}"; do
    IFS='|' read -r mode dir menu root <<<"$row"
    e2e_wine 60 "$BUILD/tavrene-$VERSION-setup-x64.exe" /S "/$mode" ||
        e2e_fail "the silent $mode install failed"
    e2e_log "$mode: installed into $dir"
    [ "$(diff -rq "$FOLDER" "$(unix_path "$dir")")" = "Only in $(unix_path "$dir"): uninstall.exe" ] ||
        e2e_fail "$mode: $dir does not hold the zip's files and uninstall.exe"
    for link in "Tavrene|tavrene.exe" "Tavrene Meter|tavrene-meter.exe"; do
        grep -aqF "$dir\\${link#*|}" "$(unix_path "$menu")/${link%|*}.lnk" ||
            e2e_fail "$mode: no shortcut \"${link%|*}\" to $dir\\${link#*|}"
    done
    e2e_wine 20 reg query "$root\\$KEY" | awk '{ sub(/\r$/, ""); $1 = $1; print }' >"$E2E_WORK/$mode.key"
    for value in "DisplayName REG_SZ Tavrene" "DisplayVersion REG_SZ $VERSION" \
        "DisplayIcon REG_SZ $dir\\tavrene.exe,0" "Publisher REG_SZ The Tavrene developers" \
        "UninstallString REG_SZ \"$dir\\uninstall.exe\" /$mode"; do
        grep -qxF -- "$value" "$E2E_WORK/$mode.key" || e2e_fail "$mode: $root\\$KEY lacks $value"
    done
    grep -qx 'EstimatedSize REG_DWORD 0x0*[1-9a-f][0-9a-f]*' "$E2E_WORK/$mode.key" ||
        e2e_fail "$mode: no size"
done
stop_server

# The per-machine tavrene.exe starts where its shortcut points, from a folder with a space in its
# name, shows its dialog and ends on Alt+F4 with exit code 0. It is the build's own file (compared
# above), whose sound e2e_wine_session checks: a second session here would test nothing new.
IFS='|' read -r mode dir menu root <<<"${MODES[0]}"
e2e_start_pulse
e2e_start_xvfb
start_server
e2e_spawn "${E2E_WINE_CMD[@]}" "$dir\\tavrene.exe" >"$E2E_WORK/installed.log" 2>&1
APP=$E2E_LAST_PID
window_shown() { WINDOW=$(e2e_find_window "SSB Tavrene Ver 1.2") && [ -n "$WINDOW" ]; }
e2e_wait_until 30 window_shown || e2e_fail "the installed tavrene.exe shows no dialog ($(cat "$E2E_WORK/installed.log"))"
e2e_screenshot "$E2E_WORK/installed" && cp "$E2E_WORK/installed.png" "$ARTIFACTS/installed-tavrene.png"
timeout 10 xdotool windowfocus --sync "$WINDOW" && xdotool key --clearmodifiers alt+F4 ||
    e2e_fail "could not press Alt+F4 on the installed tavrene.exe"
e2e_wait_exit "$APP" 10 || e2e_fail "the installed tavrene.exe did not end on Alt+F4"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "the installed tavrene.exe ended with $E2E_EXIT_CODE"
e2e_log "$mode: the installed tavrene.exe started from $dir and ended with exit code 0"
stop_server

# Apps & features' own silent uninstall; it runs on from a copy of itself and removes the key last.
start_server
for row in "${MODES[@]}"; do
    IFS='|' read -r mode dir menu root <<<"$row"
    eval "quiet=($(sed -n 's/^QuietUninstallString REG_SZ //p' "$E2E_WORK/$mode.key"))"
    [ "${quiet[*]}" = "$dir\\uninstall.exe /$mode /S" ] && e2e_wine 60 "${quiet[@]}" ||
        e2e_fail "$mode: uninstall failed"
    e2e_wait_until 60 eval "! e2e_wine 20 reg query '$root\\$KEY' >/dev/null 2>&1" ||
        e2e_fail "$mode: the uninstall entry stays"
    e2e_log "$mode: uninstalled"
done
stop_server
prefix_state >"$E2E_WORK/after"
diff "$E2E_WORK/before" "$E2E_WORK/after" >&2 || e2e_fail "the uninstall left the prefix changed (above)"
e2e_log PASS

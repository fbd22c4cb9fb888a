#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows release as a user gets it: the programs' version resources and manifests, the
# portable zip's contents, and the installer under Wine, silent, per machine and per user: its
# files, Start-menu shortcuts and "Apps & features" entries, the installed tavrene.exe playing the
# exact two-tone (e2e_session.sh), and a silent uninstall that leaves no file and no registry
# entry behind.
# Usage: e2e_windows_package.sh WINDOWS_BUILD_DIR TOOLS_BUILD_DIR ARTIFACTS_DIR WORK_DIR WINE_ROOT
BUILD=${1:?Windows build folder}
TOOLS=${2:?tools folder}
ARTIFACTS=${3:?artifacts folder}
E2E_WORK=${4:?work folder}
WINE_ROOT=${5:?Wine root}
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"
. "$(dirname "$0")/lib.sh"

started=$(date +%s%N)
cmake --build "$BUILD" --target windows_package || e2e_fail "windows_package failed"
e2e_log "package built in $((($(date +%s%N) - started) / 1000000)) ms"
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$VERSION" ] || e2e_fail "no project version in $BUILD/CMakeCache.txt"
SETUP=$BUILD/tavrene-$VERSION-setup-x64.exe
ZIP=$BUILD/tavrene-$VERSION-portable-x64.zip
FILES="LICENSE.txt README.txt tavrene-meter.exe tavrene.exe"
e2e_log "$(basename "$SETUP") $(stat -c %s "$SETUP") bytes, $(basename "$ZIP") $(stat -c %s "$ZIP") bytes"

# What each program's resources and header must say, read back from the executable.
for exe in tavrene tavrene-meter; do
    x86_64-w64-mingw32-windres -i "$BUILD/$exe.exe" -O rc >"$E2E_WORK/$exe.rc" || e2e_fail "windres cannot read $exe.exe"
    for line in "FILEVERSION ${VERSION//./, }, 0" "PRODUCTVERSION ${VERSION//./, }, 0" \
        "VALUE \"FileVersion\", \"$VERSION\"" "VALUE \"ProductVersion\", \"$VERSION\"" \
        "VALUE \"ProductName\", \"Tavrene\"" "VALUE \"OriginalFilename\", \"$exe.exe\"" \
        '<requestedExecutionLevel level=""asInvoker""' '<gdiScaling xmlns=' '<dpiAware xmlns='; do
        grep -qF -- "$line" "$E2E_WORK/$exe.rc" || e2e_fail "$exe.exe lacks $line"
    done
    grep -q 'VALUE "FileDescription", "Tavrene.\+"' "$E2E_WORK/$exe.rc" || e2e_fail "$exe.exe has no description"
    [ "$(grep -c '<supportedOS Id=' "$E2E_WORK/$exe.rc")" -eq 4 ] || e2e_fail "$exe.exe: not Windows 7 to 11"
    xmllint --noout "$BUILD/windows-version/$exe.manifest" || e2e_fail "$exe.manifest is not XML"
    x86_64-w64-mingw32-objdump -p "$BUILD/$exe.exe" >"$E2E_WORK/$exe.pe" || e2e_fail "objdump cannot read $exe.exe"
    grep -q '^Time/Date.*1970$' "$E2E_WORK/$exe.pe" || e2e_fail "$exe.exe carries its link time"
done

# The portable zip: one folder, the two programs as built, the texts with Windows line ends.
folder=tavrene-$VERSION
[ "$(unzip -Z1 "$ZIP" | sort | tr '\n' ' ')" = "$folder/ $(printf "$folder/%s " $FILES)" ] ||
    e2e_fail "the zip holds: $(unzip -Z1 "$ZIP" | tr '\n' ' ')"
for exe in tavrene tavrene-meter; do
    unzip -p "$ZIP" "$folder/$exe.exe" | cmp -s - "$BUILD/$exe.exe" || e2e_fail "the zip's $exe.exe is not the build's"
done
unzip -p "$ZIP" "$folder/README.txt" >"$E2E_WORK/README.txt" || e2e_fail "no README.txt in the zip"
! grep -qv $'\r$' "$E2E_WORK/README.txt" || e2e_fail "README.txt has a line without CR LF"

e2e_wine_env "$WINE_ROOT"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" # no Linux menu entries
C=$WINEPREFIX/drive_c
# The prefix as it is: files (except NSIS's own temporary copy of an uninstaller, which Windows
# deletes at the next restart) and registry lines that name us. No wineserver runs now, so the
# registry files are complete.
prefix_state() {
    (cd "$C" && find . | grep -v '^\./users/[^/]*/Temp/~nsu[0-9]*\.tmp' | sort) &&
        { grep -ih tavrene "$WINEPREFIX"/*.reg || [ $? -eq 1 ]; } | sort
}
prefix_state >"$E2E_WORK/before" || e2e_fail "no Wine prefix in $WINE_ROOT"
SERVER=
start_server() {
    e2e_start_wineserver
    SERVER=$E2E_LAST_PID
}
stop_server() {
    timeout 10 "$E2E_WINESERVER" -k
    e2e_stop_pid "$SERVER"
}

USER=${USER:-$(id -un)} # Wine's user name
# MODE  FOLDER  START_MENU  REGISTRY_ROOT, for each kind of installation.
MODES=("AllUsers|C:\\Program Files\\Tavrene|C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs|HKLM"
    "CurrentUser|C:\\users\\$USER\\AppData\\Local\\Programs\\Tavrene|C:\\users\\$USER\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs|HKCU")
KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrene'
unix_path() { local p=${1#C:\\}; echo "$C/${p//\\//}"; }
start_server
for row in "${MODES[@]}"; do
    IFS='|' read -r mode dir menu root <<<"$row"
    started=$(date +%s%N)
    e2e_wine 60 "$SETUP" /S "/$mode" || e2e_fail "the silent $mode install failed"
    e2e_log "$mode: installed in $((($(date +%s%N) - started) / 1000000)) ms into $dir"
    [ "$(ls "$(unix_path "$dir")" | sort | tr '\n' ' ')" = "$FILES uninstall.exe " ] ||
        e2e_fail "$mode: $dir holds: $(ls "$(unix_path "$dir")" | tr '\n' ' ')"
    cmp -s "$(unix_path "$dir")/tavrene.exe" "$BUILD/tavrene.exe" || e2e_fail "$mode: another tavrene.exe"
    for link in "Tavrene|tavrene.exe" "Tavrene Meter|tavrene-meter.exe"; do
        grep -aqF "$dir\\${link#*|}" "$(unix_path "$menu")/${link%|*}.lnk" ||
            e2e_fail "$mode: no shortcut \"${link%|*}\" to $dir\\${link#*|}"
    done
    e2e_wine 20 reg query "$root\\$KEY" | tr -d '\r' >"$E2E_WORK/$mode.key"
    for value in "DisplayName REG_SZ Tavrene" "DisplayVersion REG_SZ $VERSION" \
        "Publisher REG_SZ The Tavrene developers" "DisplayIcon REG_SZ $dir\\tavrene.exe,0" \
        "UninstallString REG_SZ \"$dir\\uninstall.exe\" /$mode" \
        "QuietUninstallString REG_SZ \"$dir\\uninstall.exe\" /$mode /S"; do
        awk '{ $1 = $1; print }' "$E2E_WORK/$mode.key" | grep -qxF -- "$value" ||
            e2e_fail "$mode: $root\\$KEY lacks $value"
    done
    grep -q 'EstimatedSize *REG_DWORD *0x[0-9a-f]*[1-9a-f]' "$E2E_WORK/$mode.key" || e2e_fail "$mode: no size"
done
stop_server

# Started as from the Start menu, the per-machine tavrene.exe plays the exact two-tone.
IFS='|' read -r mode dir menu root <<<"${MODES[0]}"
bash "$(dirname "$0")/e2e_retry.sh" 2 bash "$(dirname "$0")/e2e_session.sh" wine \
    "$dir\tavrene.exe" "$TOOLS" "$ARTIFACTS/installed" "$E2E_WORK/session" "$WINE_ROOT" ||
    e2e_fail "the installed tavrene.exe did not play the exact two-tone"

start_server
installed_key() { e2e_wine 20 reg query "$1\\$KEY" >/dev/null 2>&1; }
for row in "${MODES[@]}"; do
    IFS='|' read -r mode dir menu root <<<"$row"
    started=$(date +%s%N)
    # The uninstaller runs on from a copy of itself; the key is the last thing it removes.
    e2e_wine 60 "$(unix_path "$dir")/uninstall.exe" "/$mode" /S || e2e_fail "$mode: uninstall failed"
    e2e_wait_until 60 eval "! installed_key $root" || e2e_fail "$mode: the uninstall entry stays"
    e2e_log "$mode: uninstalled in $((($(date +%s%N) - started) / 1000000)) ms"
done
stop_server
prefix_state >"$E2E_WORK/after"
diff "$E2E_WORK/before" "$E2E_WORK/after" >&2 || e2e_fail "the uninstall left the prefix changed (above)"
e2e_log PASS

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the Windows programs (tavrene and tavrene-meter) and checks what each is: a GUI
# executable that needs only the
# system's own DLLs (user32, gdi32, winmm and the C runtime), carrying icon group 102.
# Usage: e2e_windows_build.sh SOURCE_DIR BUILD_DIR
SOURCE=${1:?source folder}
BUILD=${2:?build folder}
E2E_WORK=$(mktemp -d)
. "$(dirname "$0")/lib.sh"
E2E_CLEANUPS+=('rm -rf "$E2E_WORK"')

cmake -S "$SOURCE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRENE_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$SOURCE/cmake/mingw-w64.cmake" >"$E2E_WORK/configure.log" ||
    { cat "$E2E_WORK/configure.log"; e2e_fail "configure failed"; }
cmake --build "$BUILD" --target tavrene tavrene-meter || e2e_fail "build failed"
check_exe() {
    local EXE=$1 dlls dll
    x86_64-w64-mingw32-objdump -x "$EXE" >"$E2E_WORK/pe" || e2e_fail "no $EXE"
    grep -q 'Subsystem.*(Windows GUI)' "$E2E_WORK/pe" || e2e_fail "$EXE is not a GUI executable"
    dlls=$(grep 'DLL Name:' "$E2E_WORK/pe" | awk '{print tolower($3)}' | sort | tr '\n' ' ')
    e2e_log "$(basename "$EXE") imports: $dlls"
    for dll in $dlls; do
        case $dll in
        kernel32.dll | user32.dll | gdi32.dll | winmm.dll | msvcrt.dll | ws2_32.dll) ;;
        *) e2e_fail "$EXE imports $dll" ;;
        esac
    done
    for dll in user32.dll gdi32.dll winmm.dll; do
        [[ " $dlls" == *" $dll "* ]] || e2e_fail "$EXE does not import $dll"
    done
    # Resource tree: type 14 (icon group) holds id 0x66 (102).
    sed -n '/The .rsrc Resource Directory section/,/^$/p' "$E2E_WORK/pe" |
        grep -A2 'Entry: ID: 0x00000e' | grep -q 'Entry: ID: 0x000066' ||
        e2e_fail "$EXE has no icon group 102"
}
for exe in tavrene tavrene-meter; do
    check_exe "$BUILD/$exe.exe"
done
e2e_log PASS

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the conformance tests for Windows (tests/conformance/windows), GoogleTest with
# them, into BUILD_DIR/conformance.exe for e2e_wine_conformance.sh.
# Usage: e2e_conformance_build.sh SOURCE_DIR BUILD_DIR
SOURCE=${1:?source folder}
BUILD=${2:?build folder}
E2E_WORK=$(mktemp -d)
. "$(dirname "$0")/lib.sh"
E2E_CLEANUPS+=('rm -rf "$E2E_WORK"')

[ -d /usr/src/googletest ] || e2e_fail "no GoogleTest sources in /usr/src/googletest (libgtest-dev)"
# No optimisation: the tests call Wine's user32, gdi32 and winmm, and compile in two thirds the time.
cmake -S "$SOURCE/tests/conformance/windows" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DCMAKE_TOOLCHAIN_FILE="$SOURCE/cmake/mingw-w64.cmake" >"$E2E_WORK/configure.log" ||
    { cat "$E2E_WORK/configure.log"; e2e_fail "configure failed"; }
cmake --build "$BUILD" || e2e_fail "build failed"
[ -f "$BUILD/conformance.exe" ] || e2e_fail "no $BUILD/conformance.exe"
e2e_log PASS

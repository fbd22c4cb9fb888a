#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The shipped Linux binary carries the distribution's hardening: PIE, full RELRO, stack
# protector and _FORTIFY_SOURCE.
# Usage: e2e_hardening.sh PROGRAM COMPILE_COMMANDS_JSON
PROGRAM=${1:?program}
COMMANDS=${2:?compile_commands.json}
E2E_WORK=$(mktemp -d)
. "$(dirname "$0")/lib.sh"
E2E_CLEANUPS+=('rm -rf "$E2E_WORK"')

readelf -hldW --dyn-syms "$PROGRAM" >"$E2E_WORK/elf" || e2e_fail "readelf failed"
grep -Eq 'Type: +DYN' "$E2E_WORK/elf" && grep -Eq 'FLAGS_1.*PIE' "$E2E_WORK/elf" ||
    e2e_fail "not a position-independent executable"
grep -q 'GNU_RELRO' "$E2E_WORK/elf" || e2e_fail "no RELRO segment"
grep -Eq '\(BIND_NOW\)|FLAGS.* NOW' "$E2E_WORK/elf" || e2e_fail "RELRO is partial (no BIND_NOW)"
grep -q '__stack_chk_fail' "$E2E_WORK/elf" || e2e_fail "no stack protector"
grep -Eq ' __[a-z0-9_]+_chk' "$E2E_WORK/elf" || e2e_fail "no fortified function in the binary"
# Every translation unit of the program, not only the one that happened to call a fortified
# function, is compiled with the protections (and optimised, without which fortify does nothing).
for unit in app/tavrene.cpp panes/panes.cpp audio/tone.cpp audio/capture.cpp platform/main.cpp; do
    line=$(grep -F "/$unit\"," -B1 "$COMMANDS" | grep -m1 '"command"')
    [ -n "$line" ] || e2e_fail "$unit is not in $COMMANDS"
    for flag in -D_FORTIFY_SOURCE=2 -fstack-protector-strong -O2; do
        [[ $line == *" $flag "* ]] || e2e_fail "$unit is compiled without $flag"
    done
done
e2e_log "PIE, full RELRO, stack protector, fortified calls: $(grep -Eo ' __[a-z0-9_]+_chk' \
    "$E2E_WORK/elf" | sort -u | tr -d '\n')"
e2e_log PASS

# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the bytes of IN as a std::span<const unsigned char> returned by FUNCTION in NAMESPACE
# into OUT.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
"// Generated from ${IN}; do not edit.\n#include <span>\n\nnamespace ${NAMESPACE} {\n\nstatic const unsigned char bytes[] = {\n${bytes}0};\n\nstd::span<const unsigned char> ${FUNCTION}() {\n    return {bytes, ${byte_count}};\n}\n\n} // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)

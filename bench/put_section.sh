#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# put_section.sh NAME FILE: replaces what lies between the lines "<!-- NAME:begin -->" and
# "<!-- NAME:end -->" of FILE with standard input (the markers stay).
NAME=${1:?section}
FILE=${2:?file}
new=$(mktemp)
trap 'rm -f "$new"' EXIT
cat >"$new"
grep -q "^<!-- $NAME:begin -->\$" "$FILE" && grep -q "^<!-- $NAME:end -->\$" "$FILE" ||
    { echo "put_section: no $NAME markers in $FILE" >&2; exit 1; }
awk -v name="$NAME" -v new="$new" '
    $0 == "<!-- " name ":begin -->" { print; while ((getline line < new) > 0) print line; skip = 1; next }
    $0 == "<!-- " name ":end -->" { skip = 0 }
    !skip { print }
' "$FILE" >"$FILE.tmp" && mv "$FILE.tmp" "$FILE"

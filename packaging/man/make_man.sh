#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a program's manual page from its template and, when the template asks for them, from the
# program's own --help: the usage line becomes the SYNOPSIS, the text before the options the
# start of the DESCRIPTION, and the option list the OPTIONS, so the page says what --help says.
# Template lines: @SYNOPSIS@, @DESCRIPTION@, @OPTIONS@ and "@include FILE@" (a file beside the
# template) stand alone; @VERSION@ and @DATE@ are replaced anywhere. Writes OUTPUT gzipped.
# Usage: make_man.sh TEMPLATE OUTPUT.gz VERSION DATE [PROGRAM]
set -eu
template=$1 output=$2 version=$3 date=$4 program=${5:-}
help=$output.help
: >"$help"
if [ -n "$program" ]; then
    "$program" --help >"$help"
    [ -s "$help" ] || { echo "make_man.sh: $program --help printed nothing" >&2; exit 1; }
fi
awk -v help="$help" -v dir="$(dirname "$template")" -v version="$version" -v date="$date" '
# Plain text for roff: backslashes shown as such, options with real minus signs, no line taken
# for a request.
function text(s,    words, n, i, out) {
    gsub(/\\/, "\\e", s)
    n = split(s, words, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        if (words[i] ~ /^[(\[]?--?[A-Za-z]/) gsub(/-/, "\\-", words[i])
        out = out (i > 1 ? " " : "") words[i]
    }
    if (out ~ /^[.\047]/) out = "\\&" out
    return out
}
# Options in bold, their values (upper-case words) in italics, brackets and commas as they are.
function syntax(s,    words, n, i, w, head, core, tail, eq, out) {
    n = split(s, words, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        w = words[i]
        match(w, /^[\[]*/); head = substr(w, 1, RLENGTH); w = substr(w, RLENGTH + 1)
        match(w, /[\],.]*$/); tail = substr(w, RSTART); core = substr(w, 1, RSTART - 1)
        eq = index(core, "=")
        if (core ~ /^-/ && eq > 0) {
            core = "\\fB" substr(core, 1, eq - 1) "\\fR=\\fI" substr(core, eq + 1) "\\fR"
        } else if (core ~ /^-/) {
            core = "\\fB" core "\\fR"
        } else if (core ~ /^[A-Z][A-Z_]*$/) {
            core = "\\fI" core "\\fR"
        }
        gsub(/-/, "\\-", core)
        out = out (i > 1 ? " " : "") head core tail
    }
    return out
}
function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
BEGIN {
    part = "description"
    while ((getline line < help) > 0) {
        indent = match(line, /[^ ]/) - 1
        if (line ~ /^Usage: /) {
            split(substr(line, 8), w, " ")
            synopsis = ".B " text(w[1]) "\n" syntax(trim(substr(line, 8 + length(w[1]))))
        } else if (indent >= 1 && indent <= 4 && substr(line, indent + 1, 1) == "-") {
            part = "options"
            line = trim(line)
            gap = index(line, "  ")
            tag = gap ? substr(line, 1, gap - 1) : line
            options = options ".TP\n" syntax(tag) "\n"
            if (gap) options = options text(trim(substr(line, gap))) "\n"
        } else if (indent >= 5 && part == "options") {
            options = options text(trim(line)) "\n"
        } else if (line ~ /^ *$/) {
            pending = 1
        } else {
            if (part == "options") part = "after"
            target = part == "description" ? description : options
            if (pending && target != "") target = target ".PP\n"
            target = target text(trim(line)) "\n"
            if (part == "description") description = target; else options = target
        }
        if (line !~ /^ *$/) pending = 0
    }
}
/^@SYNOPSIS@$/ { printf "%s", synopsis "\n"; next }
/^@DESCRIPTION@$/ { printf "%s", description; next }
/^@OPTIONS@$/ { printf "%s", options; next }
/^@include [^@]+@$/ {
    file = dir "/" substr($0, 10, length($0) - 10)
    while ((getline line < file) > 0) print line
    close(file)
    next
}
{ gsub(/@VERSION@/, version); gsub(/@DATE@/, date); print }
' "$template" >"$output.tmp"
rm -f "$help"
gzip -9n -c "$output.tmp" >"$output"
rm -f "$output.tmp"

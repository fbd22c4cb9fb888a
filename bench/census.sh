#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# census.sh BUILD_DIR OUT_DIR ROUNDS [PIPEWIRE_SESSIONS]: runs every end-to-end and fault test
# (ctest -L 'e2e|faults') ROUNDS times, then the PipeWire session alone until it has run
# PIPEWIRE_SESSIONS times in all (30 unless given). Every second run has the other core kept busy
# by a loop pinned to it (core 1). Each result is one line of OUT_DIR/runs.tsv (round, busy or
# idle, test, result, seconds), written as it comes, and OUT_DIR/census.md holds the table per
# test, rebuilt after every run, with the underruns Wine's driver reported in the Wine tests (each
# may pause the tone, never fail it); each run's ctest output stays in OUT_DIR. No retry: a failure
# counts as one.
# CENSUS_FIRST_ROUND (1 unless set) continues an earlier census in OUT_DIR from that round;
# CENSUS_EXCLUDE leaves out the tests it matches (ctest -E) from the rounds.
BUILD=$(realpath "${1:?build folder}")
OUT=$(realpath -m "${2:?output folder}")
ROUNDS=${3:?rounds}
PIPEWIRE_SESSIONS=${4:-30}
FIRST=${CENSUS_FIRST_ROUND:-1}
mkdir -p "$OUT"
if [ "$FIRST" -eq 1 ]; then
    : >"$OUT/runs.tsv"
    : >"$OUT/underruns.tsv"
fi
BUSY=

stop_busy() {
    [ -n "$BUSY" ] || return 0
    kill "$BUSY" 2>/dev/null
    wait "$BUSY" 2>/dev/null
    BUSY=
}
trap stop_busy EXIT
trap 'exit 130' INT TERM

# One ctest run; its per-test lines ("  3/31 Test  #7: name ....   Passed   12.34 sec") go to
# runs.tsv.
run() {
    local round=$1 load=$2 log
    shift 2
    log=$OUT/round-$round-$load.log
    if [ "$load" = busy ]; then
        taskset -c 1 bash -c 'while :; do :; done' &
        BUSY=$!
    fi
    (cd "$BUILD" && ctest --timeout 300 "$@") >"$log" 2>&1
    stop_busy
    # Every test's own output is in LastTest.log: the underruns Wine's driver reported.
    cp "$BUILD/Testing/Temporary/LastTest.log" "$log.full"
    awk -v r="$round" -v OFS='\t' '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
        /Wine.s driver reported [0-9]+ underrun/ { print r, name }' "$log.full" >>"$OUT/underruns.tsv"
    sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.*[* ]*([A-Za-z ]*[A-Za-z]) +([0-9.]+) sec$/\1\t\2\t\3/p' \
        "$log" | awk -v r="$round" -v l="$load" -F '\t' -v OFS='\t' '{ print r, l, $1, $2, $3 }' \
        >>"$OUT/runs.tsv"
    table >"$OUT/census.md"
}

# Runs and failures per test, idle and busy, and the median time of a run.
table() {
    echo "| Test | Runs (busy) | Failures (busy) | Runs with a Wine underrun | Median s |"
    echo "|---|---|---|---|---|"
    { cut -f2 "$OUT/underruns.tsv" | sed 's/^/underrun\t/'; sort -t $'\t' -k3,3 -k5,5n "$OUT/runs.tsv"; } |
        awk -F '\t' '
        $1 == "underrun" { underran[$2]++; next }
        { n[$3]++; t[$3, n[$3]] = $5
          if ($2 == "busy") b[$3]++
          if ($4 != "Passed") { f[$3]++; if ($2 == "busy") fb[$3]++ } }
        END { for (k in n) printf "| %s | %d (%d) | %d (%d) | %d | %.1f |\n", k, n[k], b[k], f[k],
                  fb[k], underran[k], t[k, int((n[k] + 1) / 2)] }' | sort
}

for ((round = FIRST; round <= ROUNDS; round++)); do
    load=$([ $((round % 2)) -eq 0 ] && echo busy || echo idle)
    run "$round" "$load" -L 'e2e|faults' ${CENSUS_EXCLUDE:+-E "$CENSUS_EXCLUDE"}
done
for ((round = FIRST > ROUNDS ? FIRST : ROUNDS + 1; round <= PIPEWIRE_SESSIONS; round++)); do
    load=$([ $((round % 2)) -eq 0 ] && echo busy || echo idle)
    run "$round" "$load" -R '^e2e_linux_pipewire_session$'
done

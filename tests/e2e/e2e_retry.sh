#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# e2e_retry.sh ATTEMPTS COMMAND...: runs COMMAND again, up to ATTEMPTS times in all, while it ends
# with exit code 3 (the session's code for a recording that is not the exact tone; the prefix's for
# a wineboot that failed). Wine's waveform output, when its PulseAudio stream underruns, hands
# blocks back without playing them; a second attempt tells that apart from a real fault, which
# repeats. Every failed attempt is in the log.
ATTEMPTS=${1:?attempts}
shift
for ((attempt = 1; attempt <= ATTEMPTS; attempt++)); do
    "$@"
    rc=$?
    [ "$rc" -eq 3 ] || exit "$rc"
    echo "e2e_retry: attempt $attempt of $ATTEMPTS ended with code 3" >&2
done
exit 3

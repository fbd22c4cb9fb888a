// SPDX-License-Identifier: GPL-3.0-or-later
// tone_check RECORDING MIN_FIRST_SECONDS MIN_SECOND_SECONDS [PAUSES]
// Reads a raw u8 mono 11025 Hz recording of the audio output and checks that the first tone is the
// synthesizer's sequence from its start for at least MIN_FIRST_SECONDS, and (unless 0) that a
// second tone continues the sequence at a later block boundary for at least MIN_SECOND_SECONDS,
// with nothing but silence around them and at least a quarter second of silence between them (so a
// lost block inside one tone is not taken for the restart). PAUSES (0 unless given) is how many
// pauses shorter than that quarter second the tones may hold, for underruns a player reported:
// after each the tone must go on from the very byte that was due. Exit 0 when it holds, 1 when not,
// 2 on bad use.
#include "tests/tools/tone_check/recording.h"

#include "dsp/synth.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr,
                     "usage: tone_check RECORDING MIN_FIRST_SECONDS MIN_SECOND_SECONDS [PAUSES]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tone_check: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::vector<unsigned char> recording{std::istreambuf_iterator<char>(in),
                                               std::istreambuf_iterator<char>()};
    const auto min_first = static_cast<size_t>(std::atof(argv[2]) * dsp::sample_rate_hz);
    const auto min_second = static_cast<size_t>(std::atof(argv[3]) * dsp::sample_rate_hz);

    const size_t pauses = argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 0;
    const size_t min_gap = dsp::sample_rate_hz / 4;

    const tone_check::Analysis a = tone_check::analyse(recording, pauses, min_gap);
    std::printf("tone_check: %zu bytes recorded; %s\n", recording.size(),
                tone_check::describe(a).c_str());
    std::string why;
    if (!tone_check::good_session(a, min_first, min_second, min_gap, why)) {
        std::printf("tone_check: FAIL: %s\n", why.c_str());
        return 1;
    }
    std::printf("tone_check: PASS\n");
    return 0;
}

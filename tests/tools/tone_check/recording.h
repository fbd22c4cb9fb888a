// SPDX-License-Identifier: GPL-3.0-or-later
// Checks a recording of the audio output against the synthesizer's byte sequence.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tone_check {

// One stretch of the recording that equals the synthesizer's sequence byte for byte.
struct Stretch {
    size_t recording_offset = 0; // where it starts in the recording
    size_t sequence_offset = 0;  // where it starts in the synthesizer's sequence (from phase 0)
    size_t length = 0;           // bytes equal, compared one by one
};

struct Analysis {
    bool found_first = false;
    Stretch first;
    bool found_second = false;
    Stretch second;
    // Recorded bytes other than the sink's silence (128) outside the two stretches, before the end
    // of the second one (or of the first, when there is no second): a click, a repeated or a
    // foreign block shows up here.
    size_t foreign_bytes = 0;
};

// The synthesizer's output from phase 0, `blocks` whole blocks of 4096 bytes.
std::vector<unsigned char> synthesizer_sequence(size_t blocks);

// Finds the first tone (the sequence from its very first byte) and the tone after the next start,
// which must continue the sequence at a block boundary no earlier than where the first tone was
// cut off. Every byte of both stretches is compared; a stretch ends at the first byte that differs.
Analysis analyse(const std::vector<unsigned char>& recording);

// Whether the recording shows a good session: the first tone exact for at least `min_first` bytes,
// nothing but silence outside the tones, and, unless `min_second` is 0, a second tone exact for at
// least `min_second` bytes after at least `min_gap` bytes of silence (so that a lost block inside
// one tone is not taken for a restart). When not, `why` says what is wrong.
bool good_session(const Analysis& analysis, size_t min_first, size_t min_second, size_t min_gap,
                  std::string& why);

// A one-paragraph account of the analysis for the test log.
std::string describe(const Analysis& analysis);

} // namespace tone_check

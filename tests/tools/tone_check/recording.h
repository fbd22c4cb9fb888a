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
    size_t recorded = 0;         // bytes of the recording it spans, bridged pauses included
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
    // Pauses bridged inside the tones (see analyse) and the bytes of 0 among them.
    size_t gaps = 0;
    size_t zero_fill_bytes = 0;
};

// The synthesizer's output from phase 0, `blocks` whole blocks of 4096 bytes.
std::vector<unsigned char> synthesizer_sequence(size_t blocks);

// Finds the first tone (the sequence from its very first byte) and the tone after the next start,
// which must continue the sequence at a block boundary no earlier than where the first tone was
// cut off. Every byte of both stretches is compared; a stretch ends at the first byte that differs.
// Up to `gaps_allowed` pauses inside the tones are bridged: shorter than `max_gap` bytes, of
// silence or of bytes of 0 (what Wine's PulseAudio driver plays into an 8-bit stream that
// underran), and followed by the very byte of the sequence that was due, so that nothing is skipped
// or repeated.
Analysis analyse(const std::vector<unsigned char>& recording, size_t gaps_allowed = 0,
                 size_t max_gap = 0);

// Whether the recording shows a good session: the first tone exact for at least `min_first` bytes,
// nothing but silence outside the tones, and, unless `min_second` is 0, a second tone exact for at
// least `min_second` bytes after at least `min_gap` bytes of silence (so that a lost block inside
// one tone is not taken for a restart). When not, `why` says what is wrong.
bool good_session(const Analysis& analysis, size_t min_first, size_t min_second, size_t min_gap,
                  std::string& why);

// A one-paragraph account of the analysis for the test log.
std::string describe(const Analysis& analysis);

} // namespace tone_check

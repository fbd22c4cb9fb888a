// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/tools/tone_check/recording.h"

#include "dsp/synth.h"

#include <algorithm>
#include <cstdio>

namespace tone_check {

namespace {

constexpr unsigned char sink_silence = 128;
// Long enough that the sequence never repeats it by chance within a recording.
constexpr size_t anchor_bytes = 64;
// Blocks a stop may have filled but not played: the two queued, and one being refilled.
constexpr size_t blocks_filled_ahead = 3;

size_t common_length(const std::vector<unsigned char>& recording, size_t at,
                     const std::vector<unsigned char>& sequence, size_t from) {
    size_t n = 0;
    while (at + n < recording.size() && from + n < sequence.size() &&
           recording[at + n] == sequence[from + n]) {
        ++n;
    }
    return n;
}

// First place at or after `start` where the recording holds sequence[from, from + anchor_bytes).
bool find_anchor(const std::vector<unsigned char>& recording, size_t start,
                 const std::vector<unsigned char>& sequence, size_t from, size_t& found) {
    if (from + anchor_bytes > sequence.size() || start >= recording.size()) {
        return false;
    }
    auto anchor = sequence.begin() + static_cast<std::ptrdiff_t>(from);
    auto it = std::search(recording.begin() + static_cast<std::ptrdiff_t>(start), recording.end(),
                          anchor, anchor + anchor_bytes);
    if (it == recording.end()) {
        return false;
    }
    found = static_cast<size_t>(it - recording.begin());
    return true;
}

// The stretch of the sequence from sequence[from] at recording[at], bridging pauses while the
// budget lasts.
Stretch follow(const std::vector<unsigned char>& recording, size_t at,
               const std::vector<unsigned char>& sequence, size_t from, size_t max_gap,
               Analysis& analysis, size_t& gaps_left) {
    Stretch stretch{at, from, 0, 0};
    size_t end = at;
    for (;;) {
        const size_t n = common_length(recording, end, sequence, from + stretch.length);
        stretch.length += n;
        end += n;
        stretch.recorded = end - at;
        if (gaps_left == 0) {
            return stretch;
        }
        size_t gap = 0;
        size_t zeros = 0;
        while (end + gap < recording.size() && gap < max_gap &&
               (recording[end + gap] == sink_silence || recording[end + gap] == 0)) {
            zeros += recording[end + gap] == 0 ? 1 : 0;
            ++gap;
        }
        const size_t due = from + stretch.length;
        if (gap == 0 || gap == max_gap || due + anchor_bytes > sequence.size() ||
            end + gap + anchor_bytes > recording.size() ||
            !std::equal(sequence.begin() + static_cast<std::ptrdiff_t>(due),
                        sequence.begin() + static_cast<std::ptrdiff_t>(due + anchor_bytes),
                        recording.begin() + static_cast<std::ptrdiff_t>(end + gap))) {
            return stretch;
        }
        --gaps_left;
        ++analysis.gaps;
        analysis.zero_fill_bytes += zeros;
        end += gap;
    }
}

size_t foreign_in(const std::vector<unsigned char>& recording, size_t begin, size_t end) {
    return static_cast<size_t>(std::count_if(recording.begin() + static_cast<std::ptrdiff_t>(begin),
                                             recording.begin() + static_cast<std::ptrdiff_t>(end),
                                             [](unsigned char b) { return b != sink_silence; }));
}

} // namespace

std::vector<unsigned char> synthesizer_sequence(size_t blocks) {
    std::vector<unsigned char> sequence(blocks * dsp::tone_block_bytes);
    double phase = 0.0;
    for (size_t b = 0; b < blocks; ++b) {
        dsp::synthesize(sequence.data() + b * dsp::tone_block_bytes, dsp::tone_block_bytes,
                        dsp::base_frequency_hz, phase);
    }
    return sequence;
}

Analysis analyse(const std::vector<unsigned char>& recording, size_t gaps_allowed, size_t max_gap) {
    Analysis result;
    size_t gaps_left = gaps_allowed;
    const size_t blocks = recording.size() / dsp::tone_block_bytes + 2 * blocks_filled_ahead;
    const std::vector<unsigned char> sequence = synthesizer_sequence(blocks);

    size_t at = 0;
    if (!find_anchor(recording, 0, sequence, 0, at)) {
        return result;
    }
    result.found_first = true;
    result.first = follow(recording, at, sequence, 0, max_gap, result, gaps_left);
    const size_t first_end = at + result.first.recorded;
    result.foreign_bytes = foreign_in(recording, 0, at);

    // The restart continues the sequence at the first block not yet filled, which is a block
    // boundary at or after the byte where the first tone was cut off.
    const size_t cut = result.first.length;
    const size_t earliest_block = (cut + dsp::tone_block_bytes - 1) / dsp::tone_block_bytes;
    bool found = false;
    size_t best_at = 0;
    size_t best_block = 0;
    for (size_t block = earliest_block; block <= earliest_block + blocks_filled_ahead; ++block) {
        size_t candidate = 0;
        if (find_anchor(recording, first_end, sequence, block * dsp::tone_block_bytes, candidate) &&
            (!found || candidate < best_at)) {
            found = true;
            best_at = candidate;
            best_block = block;
        }
    }
    if (found) {
        const size_t from = best_block * dsp::tone_block_bytes;
        result.found_second = true;
        result.second = follow(recording, best_at, sequence, from, max_gap, result, gaps_left);
        result.foreign_bytes += foreign_in(recording, first_end, best_at);
    } else {
        result.foreign_bytes += foreign_in(recording, first_end, recording.size());
    }
    return result;
}

bool good_session(const Analysis& a, size_t min_first, size_t min_second, size_t min_gap,
                  std::string& why) {
    why.clear();
    if (!a.found_first) {
        why = "no tone starting with the synthesizer's first block";
    } else if (a.first.length < min_first) {
        why = "the first tone breaks off too early";
    } else if (a.foreign_bytes != 0) {
        why = "bytes that are neither silence nor the tone";
    } else if (min_second > 0) {
        if (!a.found_second) {
            why = "no second tone continuing the sequence at a later block";
        } else if (a.second.recording_offset - (a.first.recording_offset + a.first.recorded) <
                   min_gap) {
            why = "the tone jumps ahead without a pause: a lost block, not a restart";
        } else if (a.second.length < min_second) {
            why = "the second tone breaks off too early";
        }
    }
    return why.empty();
}

std::string describe(const Analysis& a) {
    char text[512];
    if (!a.found_first) {
        return "the synthesizer's first block does not occur in the recording";
    }
    int n = std::snprintf(text, sizeof text,
                          "first tone: recording byte %zu on, %zu bytes (%.3f s) equal to the "
                          "synthesizer from its start",
                          a.first.recording_offset, a.first.length,
                          static_cast<double>(a.first.length) / dsp::sample_rate_hz);
    if (a.found_second) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                           "; second tone: recording byte %zu on, %zu bytes (%.3f s) equal to the "
                           "synthesizer from block %zu",
                           a.second.recording_offset, a.second.length,
                           static_cast<double>(a.second.length) / dsp::sample_rate_hz,
                           a.second.sequence_offset / dsp::tone_block_bytes);
    } else {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; no second tone");
    }
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                       "; %zu bytes other than silence elsewhere", a.foreign_bytes);
    if (a.gaps > 0) {
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                      "; %zu pauses bridged, %zu of their bytes 0", a.gaps, a.zero_fill_bytes);
    }
    return text;
}

} // namespace tone_check

// SPDX-License-Identifier: GPL-3.0-or-later
// A recording read whole into memory, mixed down to one channel and resampled to the rate asked
// for: WAV, FLAC, Ogg and the rest that libsndfile reads, resampled by libsamplerate.
#pragma once

#include <string>
#include <vector>

namespace recording {

struct Audio {
    std::vector<float> samples; // mono, full scale +-1
    int rate_hz = 0;
};

// Reads `path` into `out` at `rate_hz`. Returns an empty string on success, otherwise why not, in
// words that name the file and the cause: missing, not audio, empty, truncated.
// `raw_rate_hz` > 0 reads a headerless file of 16-bit little-endian mono at that rate.
std::string read(const std::string& path, int rate_hz, Audio& out, int raw_rate_hz = 0);

} // namespace recording

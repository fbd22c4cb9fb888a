// SPDX-License-Identifier: GPL-3.0-or-later
// What the df estimator's units agree on: the two tones as sent, the 40-ms block, and the
// smallest tone they look at.
#pragma once

#include "dsp/synth.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace dsp::two_tone {

constexpr double pi = 3.14159265358979323846;
constexpr double fs = sample_rate_hz;
constexpr double tone1_hz = base_frequency_hz;
constexpr double tone2_hz = 2 * base_frequency_hz;
constexpr double spacing_hz = tone2_hz - tone1_hz;
// 40 ms: whole cycles of both tones, so a block's mean holds neither.
constexpr size_t block_samples = 441;
constexpr double block_s = block_samples / fs;
// Smallest tone amplitude looked at, in 8-bit steps: silence is not a two-tone.
constexpr double min_amplitude = 0.5;

// The median of the first `n` values of `v`, which it reorders.
inline double median_of(std::vector<double>& v, size_t n) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(v.begin(), mid, v.begin() + static_cast<std::ptrdiff_t>(n));
    return *mid;
}

} // namespace dsp::two_tone

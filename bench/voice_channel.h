// SPDX-License-Identifier: GPL-3.0-or-later
// Speech through a mistuned SSB receiver, for measuring the voice reading: every component moved
// by df (the analytic signal times e^{j 2 pi df t}), white noise at a given SNR, the receive
// filter's 300-2700 Hz pass band and a receiver AGC. Whole signals at once, in floats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace voice_channel {

struct Settings {
    double df_hz = 0.0;
    double snr_db = 200.0; // speech power over its active frames against the noise in the band
    uint32_t seed = 1;
    bool agc = true;
};

// What the receiver gives for `speech` (at dsp::sample_rate_hz).
std::vector<float> receive(const std::vector<float>& speech, const Settings& settings);

// `x` repeated until it lasts `seconds`, then cut there.
std::vector<float> loop_to(const std::vector<float>& x, double seconds);

// A codec2-examples recording by name ("hts1a", "vk2tpm_004"): from wav/ if there, else raw/.
// Empty with `error` set when neither reads.
std::vector<float> codec2_file(const std::string& name, std::string& error);

} // namespace voice_channel

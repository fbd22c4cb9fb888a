// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/synth.h"

#include <cmath>

namespace dsp {

namespace {
double program_phase = 0.0;
}

void synthesize(unsigned char* out, size_t count, int frequency_hz, double& phase) {
    double p = phase;
    for (size_t i = 0; i < count; ++i) {
        const double s = std::sin(p);
        const double v = (std::sin(2.0 * p) + s) * 63.0 + tone_centre_byte;
        out[i] = static_cast<unsigned char>(static_cast<int>(v));
        // Recomputed from the integer frequency every sample, as the reference output was.
        p = p + (frequency_hz * two_pi) / static_cast<double>(sample_rate_hz);
        if (p > two_pi) {
            p = p - two_pi;
        }
    }
    phase = p;
}

void fill_tone_block(unsigned char* block, int frequency_hz) {
    synthesize(block, tone_block_bytes, frequency_hz, program_phase);
}

double tone_phase() {
    return program_phase;
}

} // namespace dsp

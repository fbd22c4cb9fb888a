// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/bandpass.h"

namespace dsp {

const double filter_a[filter_taps] = {
    -0.00254199128, -0.0598049907, -0.0993121815, -0.100454419,   -0.0703735662, 0.0224249678,
    0.118605598,    0.18819945,    0.18819945,    0.118605598,    0.0224249678,  -0.0703735662,
    -0.100454419,   -0.0993121815, -0.0598049907, -0.00254199128,
};

const double filter_b[filter_taps] = {
    -0.0326087234, 0.0377060806, 0.0977843846, 0.0503199951,  -0.100912069, -0.167681302,
    -0.0255530862, 0.171285397,  0.171285397,  -0.0255530862, -0.167681302, -0.100912069,
    0.0503199951,  0.0977843846, 0.0377060806, -0.0326087234,
};

void compute_points(const unsigned char* block, XYPoint* points) {
    // Positions are independent, so the loops run tap by tap across all positions: each sum
    // still adds its terms in tap order (0, 1, ..., 15), and the compiler can vectorise across
    // positions without changing a bit.
    constexpr size_t samples = filter_positions + filter_taps - 1;
    double s[samples];
    for (size_t j = 0; j < samples; ++j) {
        s[j] = static_cast<double>(static_cast<int>(block[j]) - tone_centre_byte);
    }
    double a[filter_positions];
    double b[filter_positions];
    for (size_t i = 0; i < filter_positions; ++i) {
        a[i] = s[i] * filter_a[0];
        b[i] = s[i] * filter_b[0];
    }
    for (size_t k = 1; k < filter_taps; ++k) {
        const double ta = filter_a[k];
        const double tb = filter_b[k];
        for (size_t i = 0; i < filter_positions; ++i) {
            a[i] = s[i + k] * ta + a[i];
            b[i] = s[i + k] * tb + b[i];
        }
    }
    // Position 0 is computed with the rest but never plotted.
    for (size_t i = 1; i < filter_positions; ++i) {
        const double x = a[i] / 2.0 + 44.0;
        const double y = b[i] / -2.0 + 44.0;
        points[i - 1] = XYPoint{static_cast<int>(x), static_cast<int>(y)};
    }
}

} // namespace dsp

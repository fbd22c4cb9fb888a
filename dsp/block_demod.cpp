// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/block_demod.h"

#include "dsp/stream_format.h"
#include "dsp/two_tone.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace dsp {

namespace {

using namespace two_tone;

static_assert(BlockDemodulator::block_samples == two_tone::block_samples);
constexpr double block_centre = (block_samples - 1) / 2.0;
// A tone counts as found when its power stands this far above the noise in its own bin: 10 dB
// leaves about one false find in 20,000 blocks of noise alone.
constexpr double block_find_ratio = 10.0;

// Inverts the m x m matrix held in the left half of `a` by Gauss-Jordan with partial pivoting;
// the right half must hold the identity and ends up holding the inverse.
template <int m> void gauss_jordan(double (&a)[m][2 * m]) {
    for (int c = 0; c < m; ++c) {
        int pivot = c;
        for (int r = c + 1; r < m; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        for (int k = 0; k < 2 * m; ++k) {
            std::swap(a[c][k], a[pivot][k]);
        }
        const double d = a[c][c];
        for (int k = 0; k < 2 * m; ++k) {
            a[c][k] /= d;
        }
        for (int r = 0; r < m; ++r) {
            if (r != c) {
                const double f = a[r][c];
                for (int k = 0; k < 2 * m; ++k) {
                    a[r][k] -= f * a[c][k];
                }
            }
        }
    }
}

} // namespace

BlockDemodulator::BlockDemodulator() : basis_(4, std::vector<double>(block_samples)) {
    tune(0.0);
}

void BlockDemodulator::tune(double df_hz) {
    mixer_df_ = df_hz;
    const double w[2] = {2.0 * pi * (tone1_hz + df_hz) / fs, 2.0 * pi * (tone2_hz + df_hz) / fs};
    for (size_t n = 0; n < block_samples; ++n) {
        const double t = static_cast<double>(n) - block_centre;
        for (int k = 0; k < 2; ++k) {
            basis_[2 * k][n] = std::cos(w[k] * t);
            basis_[2 * k + 1][n] = std::sin(w[k] * t);
        }
    }
    // The normal equations of the five terms, and their inverse.
    constexpr int m = terms;
    double a[m][2 * m] = {};
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < m; ++c) {
            double sum = 0.0;
            for (size_t n = 0; n < block_samples; ++n) {
                const double u = r < 4 ? basis_[r][n] : 1.0;
                const double v = c < 4 ? basis_[c][n] : 1.0;
                sum += u * v;
            }
            a[r][c] = sum;
        }
        a[r][m + r] = 1.0;
    }
    gauss_jordan(a);
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < m; ++c) {
            gram_inverse_[r * m + c] = a[r][m + c];
        }
    }
}

BlockFit BlockDemodulator::fit(const double* block) const {
    constexpr int m = terms;
    double proj[m] = {};
    double energy = 0.0;
    for (size_t n = 0; n < block_samples; ++n) {
        const double x = block[n] - silence_byte;
        proj[0] += x * basis_[0][n];
        proj[1] += x * basis_[1][n];
        proj[2] += x * basis_[2][n];
        proj[3] += x * basis_[3][n];
        proj[4] += x;
        energy += x * x;
    }
    double coef[m] = {};
    double fitted = 0.0; // energy of the fit: coef . proj
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < m; ++c) {
            coef[r] += gram_inverse_[r * m + c] * proj[c];
        }
        fitted += coef[r] * proj[r];
    }
    constexpr double n = block_samples;
    BlockFit f;
    // Tone k is a cos + b sin = |a - jb| cos(w t + arg(a - jb)) about the centre.
    f.amp1 = std::hypot(coef[0], coef[1]);
    f.amp2 = std::hypot(coef[2], coef[3]);
    f.tone_power = 0.5 * (f.amp1 * f.amp1 + f.amp2 * f.amp2);
    f.noise_power = std::max((energy - fitted) / n, 1e-12);
    // Noise of variance s^2 alone puts about 2 s^2 / N into each tone's power.
    const double bin_noise = 2.0 * f.noise_power / n;
    f.present = std::min(f.amp1, f.amp2) >= min_amplitude &&
                0.5 * f.amp1 * f.amp1 >= block_find_ratio * bin_noise &&
                0.5 * f.amp2 * f.amp2 >= block_find_ratio * bin_noise;
    if (f.present) {
        // arg z2 - 2 arg z1 with z = a - jb: tone 2 minus twice tone 1 at the centre.
        const double r1 = coef[0], i1 = -coef[1], r2 = coef[2], i2 = -coef[3];
        const double zr = r1 * r1 - i1 * i1;
        const double zi = -2.0 * r1 * i1;
        f.phase = std::atan2(i2 * zr + r2 * zi, r2 * zr - i2 * zi);
        f.spacing_phase = std::atan2(i2 * r1 - r2 * i1, r2 * r1 + i2 * i1);
    }
    return f;
}

} // namespace dsp

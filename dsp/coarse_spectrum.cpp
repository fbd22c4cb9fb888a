// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/coarse_spectrum.h"

#include "dsp/two_tone.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

using namespace two_tone;

constexpr size_t fft_size = CoarseSpectrum::size;
constexpr int fft_log2 = 10;
constexpr double bin_hz = fs / fft_size;
constexpr double search_hz = 70.0;
// A spectrum peak against the median bin of the band (about 11.5 dB over the mean noise bin).
constexpr double coarse_find_ratio = 20.0;

} // namespace

CoarseSpectrum::CoarseSpectrum()
    : recent_(fft_size), hann_(fft_size), re_(fft_size), im_(fft_size), tw_cos_(fft_size / 2),
      tw_sin_(fft_size / 2), power_(fft_size / 2 + 1), scratch_(fft_size / 2 + 1),
      bit_reverse_(fft_size) {
    for (size_t i = 0; i < fft_size; ++i) {
        hann_[i] = 0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / fft_size);
        uint32_t r = 0;
        for (int b = 0; b < fft_log2; ++b) {
            r |= ((i >> b) & 1u) << (fft_log2 - 1 - b);
        }
        bit_reverse_[i] = r;
    }
    for (size_t i = 0; i < fft_size / 2; ++i) {
        tw_cos_[i] = std::cos(2.0 * pi * static_cast<double>(i) / fft_size);
        tw_sin_[i] = -std::sin(2.0 * pi * static_cast<double>(i) / fft_size);
    }
}

void CoarseSpectrum::clear() {
    std::fill(recent_.begin(), recent_.end(), 0.0);
    pos_ = 0;
}

void CoarseSpectrum::copy_recent(size_t back, size_t count, double* out) const {
    for (size_t i = 0; i < count; ++i) {
        out[i] = recent_[(pos_ + fft_size - back + i) % fft_size];
    }
}

// The strongest bin within +-70 Hz of each tone, refined by a parabola through the log powers
// around it.
bool CoarseSpectrum::find(double& df_hz) {
    double mean = 0.0;
    for (double v : recent_) {
        mean += v;
    }
    mean /= fft_size;
    for (size_t i = 0; i < fft_size; ++i) {
        const size_t j = bit_reverse_[i];
        re_[j] = (recent_[(pos_ + i) % fft_size] - mean) * hann_[i];
        im_[j] = 0.0;
    }
    for (size_t len = 2; len <= fft_size; len *= 2) {
        const size_t half = len / 2;
        const size_t stride = fft_size / len;
        for (size_t start = 0; start < fft_size; start += len) {
            for (size_t k = 0; k < half; ++k) {
                const double c = tw_cos_[k * stride];
                const double s = tw_sin_[k * stride];
                const size_t a = start + k;
                const size_t b = a + half;
                const double br = re_[b] * c - im_[b] * s;
                const double bi = re_[b] * s + im_[b] * c;
                re_[b] = re_[a] - br;
                im_[b] = im_[a] - bi;
                re_[a] += br;
                im_[a] += bi;
            }
        }
    }
    for (size_t k = 0; k <= fft_size / 2; ++k) {
        power_[k] = re_[k] * re_[k] + im_[k] * im_[k];
        scratch_[k] = power_[k];
    }
    const double floor = median_of(scratch_, scratch_.size());
    // A tone of amplitude A peaks at (A N / 4)^2 through the Hann window.
    const double min_peak = std::pow(min_amplitude * fft_size / 4.0, 2.0);

    double found_hz[2] = {0.0, 0.0};
    const double nominal[2] = {tone1_hz, tone2_hz};
    for (int t = 0; t < 2; ++t) {
        const auto lo = static_cast<size_t>(std::ceil((nominal[t] - search_hz) / bin_hz));
        const auto hi = static_cast<size_t>(std::floor((nominal[t] + search_hz) / bin_hz));
        size_t best = lo;
        for (size_t k = lo; k <= hi; ++k) {
            if (power_[k] > power_[best]) {
                best = k;
            }
        }
        if (power_[best] < min_peak || power_[best] < coarse_find_ratio * floor) {
            return false;
        }
        const double l = std::log(power_[best - 1] + 1e-30);
        const double m = std::log(power_[best] + 1e-30);
        const double r = std::log(power_[best + 1] + 1e-30);
        const double curve = l - 2.0 * m + r;
        const double offset = curve < 0.0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0;
        found_hz[t] = (static_cast<double>(best) + offset) * bin_hz;
    }
    df_hz = 2.0 * found_hz[0] - found_hz[1];
    return true;
}

} // namespace dsp

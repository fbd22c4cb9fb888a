// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/coarse_spectrum.h"

#include "dsp/two_tone.h"

#include <kissfft.hh>

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

using namespace two_tone;

constexpr size_t fft_size = CoarseSpectrum::size;
constexpr double bin_hz = fs / fft_size;
constexpr double search_hz = 70.0;
// A spectrum peak against the median bin of the band (about 11.5 dB over the mean noise bin).
constexpr double coarse_find_ratio = 20.0;

} // namespace

CoarseSpectrum::CoarseSpectrum()
    : recent_(fft_size), hann_(fft_size), windowed_(fft_size), bins_(fft_size / 2),
      fft_(std::make_unique<kissfft<double>>(fft_size / 2, false)), power_(fft_size / 2 + 1),
      scratch_(fft_size / 2 + 1) {
    for (size_t i = 0; i < fft_size; ++i) {
        hann_[i] = 0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / fft_size);
    }
}

CoarseSpectrum::~CoarseSpectrum() = default;

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
        windowed_[i] = (recent_[(pos_ + i) % fft_size] - mean) * hann_[i];
    }
    // A real transform of N points as a complex one of N/2: bin 0 holds the DC term in its real
    // part and the Nyquist term in its imaginary part.
    fft_->transform_real(windowed_.data(), bins_.data());
    for (size_t k = 1; k < fft_size / 2; ++k) {
        power_[k] = std::norm(bins_[k]);
    }
    power_[0] = bins_[0].real() * bins_[0].real();
    power_[fft_size / 2] = bins_[0].imag() * bins_[0].imag();
    scratch_ = power_;
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

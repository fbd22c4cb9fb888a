// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/clock_resampler.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace radio_path {

namespace {

constexpr int phases = 1024; // rows of the tap table across one sample; rows between are blended
// Wide transition, but below 1e-6 of error from 500 to 2700 Hz at any fraction.
constexpr double kaiser_beta = 12.0;

double bessel_i0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        double q = x / (2.0 * k);
        term *= q * q;
        sum += term;
    }
    return sum;
}

// Row r holds the taps for an output r / phases of a sample past the window's centre: tap k
// meets the input k - (taps/2 - 1) samples from the whole part of the position. Row 0 is a plain
// copy of the centre sample, and row `phases` the same one sample later.
const std::vector<double>& tap_table() {
    static const std::vector<double> table = [] {
        constexpr int n = ClockResampler::taps;
        constexpr int half = n / 2;
        std::vector<double> t(size_t(phases + 1) * n);
        for (int r = 0; r <= phases; ++r) {
            double frac = double(r) / phases;
            double* row = &t[size_t(r) * n];
            for (int k = 0; k < n; ++k) {
                double x = double(k - (half - 1)) - frac;
                double u = x / double(half);
                double w = std::abs(u) >= 1.0 ? 0.0
                                              : bessel_i0(kaiser_beta * std::sqrt(1.0 - u * u)) /
                                                    bessel_i0(kaiser_beta);
                double s = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
                row[k] = w * s;
            }
        }
        return t;
    }();
    return table;
}

} // namespace

ClockResampler::ClockResampler() {
    tap_table(); // built once, before any sample
}

void ClockResampler::set_ppm(double ppm) {
    step_ = 1.0 / (1.0 + ppm * 1e-6);
}

void ClockResampler::restart() {
    position_ = pushed_ - delay;
    fraction_ = 0.0;
}

void ClockResampler::reset() {
    history_.fill(0.0);
    pushed_ = 0;
    restart();
}

void ClockResampler::push(double x) {
    size_t at = size_t(pushed_) & (ring - 1);
    history_[at] = history_[at + ring] = x;
    ++pushed_;
}

bool ClockResampler::next(double& y) {
    if (position_ + delay > pushed_ - 1) {
        return false;
    }
    const double* w = &history_[size_t(position_ - (delay - 1)) & (ring - 1)];
    double f = fraction_ * phases;
    auto r = static_cast<size_t>(f);
    double a = f - double(r);
    const double* lo = &tap_table()[r * taps];
    const double* hi = lo + taps;
    double y_lo = 0.0, y_hi = 0.0;
    for (int k = 0; k < taps; ++k) {
        y_lo += lo[k] * w[k];
        y_hi += hi[k] * w[k];
    }
    y = y_lo + a * (y_hi - y_lo);

    fraction_ += step_;
    double whole = std::floor(fraction_);
    position_ += static_cast<int64_t>(whole);
    fraction_ -= whole;
    return true;
}

} // namespace radio_path

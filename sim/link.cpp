// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/link.h"

#include "dsp/stream_format.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace radio_path {

namespace {

constexpr double sample_rate = dsp::sample_rate_hz;
constexpr double silence = dsp::silence_byte;

// Band edges of the SSB filter: Butterworth high-pass and low-pass, each -3 dB at its edge.
constexpr double band_low_hz = 300.0;
constexpr int band_low_order = 4;
constexpr double band_high_hz = 2700.0;
constexpr int band_high_order = 8;

// AGC: the detector takes a peak at once and lets it go with decay_s; the gain moves down with
// attack_s and back up with release_s, so a loud burst leaves the gain low for a while.
constexpr double agc_decay_s = 0.5;
constexpr double agc_attack_s = 0.010;
constexpr double agc_release_s = 0.5;

double per_sample(double seconds) {
    return 1.0 - std::exp(-1.0 / (seconds * sample_rate));
}
const double agc_decay = per_sample(agc_decay_s);
const double agc_attack = per_sample(agc_attack_s);
const double agc_release = per_sample(agc_release_s);

// Ideal Hilbert transformer 2/(pi n) at odd n, Blackman window, stored so that tap j meets the
// window's sample j (oldest first): the transform of the centre sample is their dot product.
std::vector<double> hilbert_taps(int tap_count) {
    std::vector<double> taps(size_t(tap_count), 0.0);
    const int m = tap_count / 2;
    for (int j = 0; j < tap_count; ++j) {
        int n = m - j;
        if (n % 2 == 0) {
            continue;
        }
        double a = 2.0 * std::numbers::pi * j / (tap_count - 1);
        double w = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
        taps[static_cast<size_t>(j)] = w * 2.0 / (std::numbers::pi * n);
    }
    return taps;
}

// One second-order section of a Butterworth filter of `order` (even) at `hz`: section k of
// order/2 has Q = 1 / (2 sin((2k+1) pi / (2 order))). The bilinear transform warped to `hz`.
template <typename Section> Section butterworth(double hz, int order, int k, bool high) {
    double q = 1.0 / (2.0 * std::sin((2 * k + 1) * std::numbers::pi / (2.0 * order)));
    double w0 = 2.0 * std::numbers::pi * hz / sample_rate;
    double alpha = std::sin(w0) / (2.0 * q);
    double c = std::cos(w0);
    double a0 = 1.0 + alpha;
    double b1 = high ? -(1.0 + c) : 1.0 - c;
    double b0 = high ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
    return Section{b0 / a0, b1 / a0, b0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

} // namespace

Link::Link(const LinkSettings& settings)
    : window_(2 * tap_count, 0.0), taps_(hilbert_taps(tap_count)) {
    size_t s = 0;
    for (int k = 0; k < band_low_order / 2; ++k) {
        band_[s++] = butterworth<Biquad>(band_low_hz, band_low_order, k, true);
    }
    for (int k = 0; k < band_high_order / 2; ++k) {
        band_[s++] = butterworth<Biquad>(band_high_hz, band_high_order, k, false);
    }
    static_assert(band_sections == (band_low_order + band_high_order) / 2);
    rng_.seed(settings_.noise_seed);
    set(settings);
}

void Link::set(const LinkSettings& s) {
    if (s.noise_seed != settings_.noise_seed || s.noise_rms != settings_.noise_rms) {
        rng_.seed(s.noise_seed);
        gauss_.reset();
    }
    if (s.band_limit && !settings_.band_limit) {
        clear_band();
    }
    if (s.agc && !settings_.agc) {
        clear_agc();
    }
    clock_.set_ppm(s.clock_ppm);
    bool clock_on = s.clock_ppm != 0.0;
    if (clock_on && !clock_on_) {
        clock_.restart();
    }
    clock_on_ = clock_on;
    settings_ = s;
}

void Link::reset() {
    std::fill(window_.begin(), window_.end(), 0.0);
    phase_ = 0.0;
    clear_band();
    clock_.reset();
    clear_agc();
}

void Link::clear_band() {
    for (Biquad& b : band_) {
        b.s1 = b.s2 = 0.0;
    }
}

void Link::clear_agc() {
    agc_env_ = 0.0;
    agc_gain_ = 1.0;
}

template <class Emit> void Link::take(double x, Emit emit) {
    double y = shift(x);
    if (settings_.band_limit) {
        y = band(y);
    }
    // The clock's history follows the signal even while the clocks agree, so a difference
    // switched on later starts from what was really played.
    clock_.push(y);
    if (!clock_on_) {
        emit(to_input(y));
        return;
    }
    while (clock_.next(y)) {
        emit(to_input(y));
    }
}

void Link::process(const uint8_t* played, size_t n, std::vector<uint8_t>& captured) {
    for (size_t i = 0; i < n; ++i) {
        take(double(played[i]) - silence, [&](double y) { captured.push_back(to_8_bits(y)); });
    }
}

void Link::process(const double* played, size_t n, std::vector<double>& captured) {
    for (size_t i = 0; i < n; ++i) {
        take(played[i], [&](double y) { captured.push_back(y); });
    }
}

uint8_t Link::to_8_bits(double y) {
    return static_cast<uint8_t>(std::clamp(std::lround(y) + long(silence), 0L, 255L));
}

int16_t Link::to_16_bits(double y) {
    return static_cast<int16_t>(std::clamp(std::lround(y * 256.0), -32768L, 32767L));
}

double Link::shift(double x) {
    window_pos_ = (window_pos_ + 1) % tap_count;
    window_[window_pos_] = window_[window_pos_ + tap_count] = x;
    const double* w = &window_[window_pos_ + 1]; // oldest first, newest at tap_count - 1

    double y = w[group_delay];
    if (settings_.df_hz != 0.0) {
        double xh = 0.0;
        for (int j = 0; j < tap_count; ++j) {
            xh += taps_[size_t(j)] * w[j];
        }
        y = y * std::cos(phase_) - xh * std::sin(phase_);
        phase_ += 2.0 * std::numbers::pi * settings_.df_hz / sample_rate;
        phase_ -= 2.0 * std::numbers::pi * std::floor(phase_ / (2.0 * std::numbers::pi));
    }
    return y;
}

double Link::band(double x) {
    for (Biquad& b : band_) {
        double y = b.b0 * x + b.s1;
        b.s1 = b.b1 * x - b.a1 * y + b.s2;
        b.s2 = b.b2 * x - b.a2 * y;
        // Silence would let the state decay into subnormal numbers, slow on most processors.
        if (std::abs(b.s1) < 1e-30 && std::abs(b.s2) < 1e-30) {
            b.s1 = b.s2 = 0.0;
        }
        x = y;
    }
    return x;
}

double Link::agc(double x) {
    double level = std::abs(x);
    agc_env_ = level > agc_env_ ? level : agc_env_ - agc_decay * agc_env_;
    double want = agc_target / std::max(agc_env_, agc_target / agc_max_gain);
    agc_gain_ += (want < agc_gain_ ? agc_attack : agc_release) * (want - agc_gain_);
    return x * agc_gain_;
}

double Link::to_input(double y) {
    if (settings_.agc) {
        y = agc(y);
    }
    y *= settings_.gain;
    if (settings_.noise_rms > 0.0) {
        y += settings_.noise_rms * gauss_(rng_);
    }
    return y;
}

} // namespace radio_path

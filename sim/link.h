// SPDX-License-Identifier: GPL-3.0-or-later
// The SSB link between the output and the input, as a stream processor: what the output plays
// goes in, what the input records comes out. In order: every frequency component moves by df
// (an analytic signal from a Hilbert FIR, mixed by exp(j 2 pi df t), real part); the 300-2700 Hz
// pass band of an SSB filter; the input's own sample clock; a receiver AGC; gain, noise, and the
// 8-bit input's rounding and clipping at 0 and 255. No platform, no clock: samples in, samples out.
#pragma once

#include "sim/clock_resampler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace radio_path {

struct LinkSettings {
    double df_hz = 0.0;     // every frequency component moves by df (returned minus sent)
    double gain = 1.0;      // linear, before clipping; the 8-bit input clips at 0 and 255
    double noise_rms = 0.0; // Gaussian, in 8-bit steps
    uint32_t noise_seed = 1;
    double clock_ppm = 0.0;  // the input's sample clock runs this many ppm fast against the
                             // output's: the input takes (1 + ppm*1e-6) samples per played sample
    bool band_limit = false; // the 300-2700 Hz pass band of an SSB filter
    bool agc = false;        // a receiver AGC: slow gain changes that follow the level
};

class Link {
  public:
    explicit Link(const LinkSettings& settings = {});
    // Takes effect from the next sample on. The noise starts again from its seed when the seed or
    // the rms changes; the band limit and the AGC start from rest when they are switched on.
    void set(const LinkSettings& settings);
    const LinkSettings& settings() const { return settings_; }
    // Back to rest, as if nothing had ever been played (the noise generator carries on).
    void reset();

    // Takes `n` samples as played (u8, 11025/s on the output's clock) and appends to `captured`
    // what the input records (u8, on its own clock) from them. Allocates only when `captured`
    // grows.
    void process(const uint8_t* played, size_t n, std::vector<uint8_t>& captured);
    // The same for samples in 8-bit steps about the middle, and before the input's rounding:
    // a 16-bit input, or a source finer than 8 bits, takes these.
    void process(const double* played, size_t n, std::vector<double>& captured);
    static uint8_t to_8_bits(double y);  // rounded and clipped as an 8-bit input does
    static int16_t to_16_bits(double y); // the same for a 16-bit input: 256 steps to one of 8 bits

    // Samples the link delays by at df = 0 with the other settings at their defaults. A clock
    // difference adds ClockResampler::delay; the band limit adds its own group delay, which
    // depends on the frequency (4.4 samples at 1000 Hz, 5.0 at 2000 Hz, 9.5 at 500 Hz).
    static constexpr int group_delay = 63;
    // AGC: the peak level it holds the signal at, in 8-bit steps, and its largest gain.
    static constexpr double agc_target = 100.0;
    static constexpr double agc_max_gain = 10.0;

    // The current AGC gain (1 while the AGC is off).
    double agc_gain() const { return agc_gain_; }

  private:
    static constexpr int tap_count = 2 * group_delay + 1;
    static constexpr int band_sections = 6;

    struct Biquad {
        double b0, b1, b2, a1, a2; // a0 normalised to 1
        double s1 = 0.0, s2 = 0.0; // transposed direct form II state
    };

    double shift(double x);
    double band(double x);
    double agc(double x);
    double to_input(double y);
    template <class Emit> void take(double x, Emit emit);
    void clear_band();
    void clear_agc();

    LinkSettings settings_;

    std::vector<double> window_; // shifter input, twice over so the taps see it contiguous
    size_t window_pos_ = 0;
    std::vector<double> taps_; // Hilbert FIR, ordered to match the window
    double phase_ = 0.0;

    std::array<Biquad, band_sections> band_;

    ClockResampler clock_;
    bool clock_on_ = false;

    double agc_env_ = 0.0;
    double agc_gain_ = 1.0;

    std::mt19937 rng_;
    std::normal_distribution<double> gauss_{0.0, 1.0};
};

} // namespace radio_path

// SPDX-License-Identifier: GPL-3.0-or-later
// Resampling onto a sample clock a few hundred ppm off: a windowed-sinc fractional-delay
// interpolator (32 taps, Kaiser window) whose read position advances by 1 / (1 + ppm*1e-6) input
// samples per output sample. The position is kept as an integer and a fraction, so it stays exact
// to far below a sample however long it runs.
#pragma once

#include <array>
#include <cstdint>

namespace radio_path {

class ClockResampler {
  public:
    static constexpr int taps = 32;
    // Input samples an output lags behind the newest input it could use.
    static constexpr int delay = taps / 2;

    ClockResampler();
    // The output clock runs `ppm` fast: (1 + ppm*1e-6) outputs per input.
    void set_ppm(double ppm);
    // Next output at the sample `delay` before the next input, at a whole sample.
    void restart();
    // Forget every input.
    void reset();

    void push(double x);
    // The next output, once the inputs it needs have been pushed.
    bool next(double& y);

  private:
    static constexpr int ring = 64; // a power of two above taps

    std::array<double, 2 * ring> history_{}; // twice over, so a window is contiguous
    int64_t pushed_ = 0;
    int64_t position_ = 0; // whole part of the next output's position, in input samples
    double fraction_ = 0.0;
    double step_ = 1.0;
};

} // namespace radio_path

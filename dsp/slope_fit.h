// SPDX-License-Identifier: GPL-3.0-or-later
// Weighted least-squares slopes of two series sampled at the same block indices with the same
// weights: the two-tone phase and the tones' spacing phase. Times and values are taken from the
// first point added, which keeps the sums small over any length of run. The points may come in
// pieces, each with an offset of its own and all with one slope: the signal jumped in time
// between them.
#pragma once

#include <cstdint>

namespace dsp {

class SlopeFit {
  public:
    void add(int64_t index, double y, double v, double weight);
    void next_piece(); // the points added from now on have an offset of their own
    int count() const { return count_; }
    // Blocks from the earliest point added to the latest, both included.
    int64_t span_blocks() const { return t_last_ - t_first_ + 1; }
    // Per block; false while fewer than two distinct indices carry weight.
    bool solve(double& y_slope, double& v_slope) const;

  private:
    // The current piece's sums about its own weighted means, added to stt, sty and stv.
    void add_current_piece(double& stt, double& sty, double& stv) const;

    int count_ = 0;
    int64_t t0_ = 0, t_first_ = 0, t_last_ = 0;
    double y0_ = 0.0, sw_ = 0.0, st_ = 0.0, sy_ = 0.0, stt_ = 0.0, sty_ = 0.0;
    double v0_ = 0.0, sv_ = 0.0, stv_ = 0.0;
    // The pieces before the current one, each about its own weighted means.
    int pieces_ = 0;
    double stt_done_ = 0.0, sty_done_ = 0.0, stv_done_ = 0.0;
};

} // namespace dsp

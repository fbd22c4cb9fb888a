// SPDX-License-Identifier: GPL-3.0-or-later
// The df estimator's fine stage, one 40-ms block at a time: both tones fitted by least squares on
// cos and sin at the mixer frequencies, 1000 + df and 2000 + df, and a constant, all taken from
// the block's centre. Unlike plain mixing, nothing of one tone or of its mirror image leaks into
// the other, and the phases are the tones' own at the centre whatever the mixers sit at, so
// retuning keeps a phase history valid.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace dsp {

struct BlockFit {
    double amp1 = 0.0, amp2 = 0.0; // of each tone, in 8-bit steps
    double tone_power = 0.0, noise_power = 0.0;
    bool present = false; // both tones stand out of the noise left over
    // Only when present, wrapped to +-pi at the block's centre:
    double phase = 0.0;         // arg z2 - 2 arg z1, which turns at 2 pi df
    double spacing_phase = 0.0; // arg z2 - arg z1, which turns with the tones' spacing
};

class BlockDemodulator {
  public:
    static constexpr size_t block_samples = 441;

    BlockDemodulator(); // every buffer is allocated here
    void tune(double df_hz);
    double mixer_df() const { return mixer_df_; }
    // `block` holds block_samples samples (u8 values).
    BlockFit fit(const double* block) const;

  private:
    static constexpr int terms = 5; // cos1 sin1 cos2 sin2 1
    std::vector<std::vector<double>> basis_;
    std::array<double, terms * terms> gram_inverse_{};
    double mixer_df_ = 0.0;
};

} // namespace dsp

// SPDX-License-Identifier: GPL-3.0-or-later
// The df estimator's coarse stage: a Hann-windowed 1024-point spectrum (KissFFT) of the last
// samples (about 93 ms) finds each tone within +-70 Hz of nominal; 2 f1' - f2' is df free of any
// sample-clock error.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

template <typename scalar_t> class kissfft;

namespace dsp {

class CoarseSpectrum {
  public:
    static constexpr size_t size = 1024;

    CoarseSpectrum(); // every buffer is allocated here
    ~CoarseSpectrum();
    CoarseSpectrum(const CoarseSpectrum&) = delete;
    CoarseSpectrum& operator=(const CoarseSpectrum&) = delete;
    void clear(); // the window back to zeros
    void push(double sample) {
        recent_[pos_] = sample;
        pos_ = (pos_ + 1) % size;
    }
    // Looks for both tones in the window; on success sets `df_hz` and returns true.
    bool find(double& df_hz);
    // `count` samples starting `back` samples before the newest one's successor, oldest first.
    void copy_recent(size_t back, size_t count, double* out) const;

  private:
    std::vector<double> recent_; // a ring: pos_ is the oldest sample
    size_t pos_ = 0;
    std::vector<double> hann_, windowed_;
    std::vector<std::complex<double>> bins_;
    std::unique_ptr<kissfft<double>> fft_; // KissFFT's plan: its header stays out of this one
    std::vector<double> power_, scratch_;
};

} // namespace dsp

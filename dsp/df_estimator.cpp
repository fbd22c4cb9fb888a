// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/df_estimator.h"

#include "dsp/synth.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double fs = sample_rate_hz;
constexpr size_t fft_size = 1024;
constexpr int fft_log2 = 10;
constexpr double bin_hz = fs / fft_size;
constexpr double search_hz = 70.0;
constexpr double tone1_hz = 1000.0;
constexpr double tone2_hz = 2000.0;
constexpr double spacing_hz = tone2_hz - tone1_hz;
constexpr double block_s = DfEstimator::block_samples / fs;
constexpr double block_centre = (DfEstimator::block_samples - 1) / 2.0;
// A tone counts as found when its power stands this far above the noise in its own bin: 10 dB
// leaves about one false find in 20,000 blocks of noise alone.
constexpr double block_find_ratio = 10.0;
// A spectrum peak against the median bin of the band (about 11.5 dB over the mean noise bin).
constexpr double coarse_find_ratio = 20.0;
// Smallest tone amplitude looked at, in 8-bit steps: silence is not a two-tone.
constexpr double min_amplitude = 0.5;
// The coarse and fine stages disagreeing by more than this for this many blocks in a row means
// the offset has moved (the dial was turned): start over from the coarse stage.
constexpr double relock_hz = 5.0;
constexpr int relock_blocks = 3;
// The fine reading moves the mixers once it is this far from them: 0.1 Hz off costs 3e-5 of
// the tone power, below the 8-bit rounding.
constexpr double retune_hz = 0.1;
// Blocks in a row without the two-tone that end a signal.
constexpr int absent_blocks_to_drop = 3;
// The first block of a signal enters the fit when both tones in it reach this share of their
// median: a quarter filled, its weight is a sixteenth of a full block's.
constexpr double edge_gate = 0.25;
// Sound-card clocks sit within a few hundred ppm of each other; a spacing fitted further off than
// this (a very short or very noisy fit) is not trusted beyond it.
constexpr double max_clock_error = 1e-3;

double wrap(double x) {
    return x - 2.0 * pi * std::floor(x / (2.0 * pi) + 0.5);
}

double median_of(std::vector<double>& v, size_t n) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(v.begin(), mid, v.begin() + static_cast<std::ptrdiff_t>(n));
    return *mid;
}

} // namespace

DfEstimator::DfEstimator()
    : block_(block_samples), recent_(fft_size), hann_(fft_size), re_(fft_size), im_(fft_size),
      tw_cos_(fft_size / 2), tw_sin_(fft_size / 2), power_(fft_size / 2 + 1),
      scratch_(fft_size / 2 + 1), bit_reverse_(fft_size), earlier_(block_samples),
      basis_(4, std::vector<double>(block_samples)), history_(window_blocks),
      median_a_(window_blocks), median_b_(window_blocks) {
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
    reset();
}

void DfEstimator::reset() {
    fill_ = 0;
    block_index_ = 0;
    std::fill(recent_.begin(), recent_.end(), 0.0);
    recent_pos_ = 0;
    coarse_found_ = false;
    coarse_df_ = 0.0;
    locked_ = false;
    locked_at_ = -1;
    mixer_df_ = 0.0;
    segment_start_ = 0;
    absent_run_ = 0;
    disagree_run_ = 0;
    have_phase_ = false;
    last_phase_ = 0.0;
    last_spacing_phase_ = 0.0;
    last_phase_index_ = 0;
    have_fit_ = false;
    fit_df_ = 0.0;
    fit_spacing_hz_ = 0.0;
    std::fill(history_.begin(), history_.end(), BlockRecord{});
    reading_ = DfReading{};
}

int DfEstimator::push(const unsigned char* samples, size_t count) {
    int made = 0;
    for (size_t i = 0; i < count; ++i) {
        block_[fill_++] = samples[i];
        if (fill_ == block_samples) {
            process_block();
            fill_ = 0;
            ++made;
        }
    }
    return made;
}

void DfEstimator::lock(double df_hz) {
    locked_ = true;
    segment_start_ = block_index_;
    absent_run_ = 0;
    disagree_run_ = 0;
    have_phase_ = false;
    have_fit_ = false;
    tune_mixers(df_hz);
}

// The tones are fitted over each block by least squares on cos and sin at the mixer frequencies
// and a constant, all taken from the block's centre: unlike plain mixing, nothing of one tone or
// of its mirror image leaks into the other, and the phases are the tones' own at the centre
// whatever the mixers sit at, so retuning keeps the history valid.
void DfEstimator::tune_mixers(double df_hz) {
    mixer_df_ = df_hz;
    const double w[2] = {2.0 * pi * (tone1_hz + df_hz) / fs, 2.0 * pi * (tone2_hz + df_hz) / fs};
    for (size_t n = 0; n < block_samples; ++n) {
        const double t = static_cast<double>(n) - block_centre;
        for (int k = 0; k < 2; ++k) {
            basis_[2 * k][n] = std::cos(w[k] * t);
            basis_[2 * k + 1][n] = std::sin(w[k] * t);
        }
    }
    // Normal equations of [cos1 sin1 cos2 sin2 1], inverted by Gauss-Jordan.
    constexpr int m = fit_terms;
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
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < m; ++c) {
            gram_inverse_[r * m + c] = a[r][m + c];
        }
    }
}

// Hann-windowed spectrum of the last 1024 samples; the strongest bin within +-70 Hz of each tone,
// refined by a parabola through the log powers around it.
void DfEstimator::coarse_stage() {
    double mean = 0.0;
    for (double v : recent_) {
        mean += v;
    }
    mean /= fft_size;
    for (size_t i = 0; i < fft_size; ++i) {
        const size_t j = bit_reverse_[i];
        re_[j] = (recent_[(recent_pos_ + i) % fft_size] - mean) * hann_[i];
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
    coarse_found_ = true;
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
            coarse_found_ = false;
            return;
        }
        const double l = std::log(power_[best - 1] + 1e-30);
        const double m = std::log(power_[best] + 1e-30);
        const double r = std::log(power_[best + 1] + 1e-30);
        const double curve = l - 2.0 * m + r;
        const double offset = curve < 0.0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0.0;
        found_hz[t] = (static_cast<double>(best) + offset) * bin_hz;
    }
    coarse_df_ = 2.0 * found_hz[0] - found_hz[1];
}

void DfEstimator::process_block() {
    BlockRecord rec;
    rec.index = block_index_;
    for (double v : block_) {
        const double d = v - 128.0;
        rec.sum_sq += d * d;
        rec.peak = std::max(rec.peak, static_cast<int>(std::fabs(d)));
        rec.clipped += (v == 0.0 || v == 255.0) ? 1 : 0;
        recent_[recent_pos_] = v;
        recent_pos_ = (recent_pos_ + 1) % fft_size;
    }
    coarse_stage();
    bool fresh_lock = false;
    if (!locked_) {
        if (coarse_found_) {
            lock(coarse_df_);
            fresh_lock = true;
            locked_at_ = block_index_;
        }
    } else if (coarse_found_ && locked_at_ == block_index_ - 1 &&
               std::fabs(coarse_df_ - mixer_df_) > relock_hz) {
        // The lock just taken rested on a spectrum the signal had only begun to fill; this one
        // holds a block more of it. Start over from it, the block before included.
        lock(coarse_df_);
        fresh_lock = true;
    } else if (coarse_found_) {
        const double fine = have_fit_ ? fit_df_ : mixer_df_;
        disagree_run_ = std::fabs(coarse_df_ - fine) > relock_hz ? disagree_run_ + 1 : 0;
        if (disagree_run_ >= relock_blocks) {
            lock(coarse_df_);
        }
    }

    if (locked_) {
        // The spectrum needs the signal in much of its 93 ms before it finds it: the block
        // before, still in `recent_`, often holds signal already. (Not after a jump of df: that
        // block holds the old offset.)
        auto& previous =
            history_[static_cast<size_t>((block_index_ + window_blocks - 1) % window_blocks)];
        if (fresh_lock && previous.index == block_index_ - 1) {
            for (size_t i = 0; i < block_samples; ++i) {
                earlier_[i] = recent_[(recent_pos_ + fft_size - 2 * block_samples + i) % fft_size];
            }
            segment_start_ = previous.index;
            fine_stage(earlier_.data(), previous);
        }
        fine_stage(block_.data(), rec);
        if (rec.present) {
            absent_run_ = 0;
        } else if (++absent_run_ >= absent_blocks_to_drop) {
            locked_ = false;
            have_phase_ = false;
            have_fit_ = false;
            segment_start_ = block_index_ + 1;
        }
    }
    history_[static_cast<size_t>(block_index_ % window_blocks)] = rec;
    update_reading();
    if (have_fit_ && std::fabs(fit_df_ - mixer_df_) > retune_hz) {
        tune_mixers(fit_df_);
    }
    ++block_index_;
}

void DfEstimator::fine_stage(const double* block, BlockRecord& rec) {
    constexpr int m = fit_terms;
    double proj[m] = {};
    double energy = 0.0;
    for (size_t n = 0; n < block_samples; ++n) {
        const double x = block[n] - 128.0;
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
    // Tone k is a cos + b sin = |a - jb| cos(w t + arg(a - jb)) about the centre.
    rec.mixer_df = mixer_df_;
    rec.amp1 = std::hypot(coef[0], coef[1]);
    rec.amp2 = std::hypot(coef[2], coef[3]);
    rec.tone_power = 0.5 * (rec.amp1 * rec.amp1 + rec.amp2 * rec.amp2);
    rec.noise_power = std::max((energy - fitted) / n, 1e-12);
    // Noise of variance s^2 alone puts about 2 s^2 / N into each tone's power.
    const double bin_noise = 2.0 * rec.noise_power / n;
    rec.present = std::min(rec.amp1, rec.amp2) >= min_amplitude &&
                  0.5 * rec.amp1 * rec.amp1 >= block_find_ratio * bin_noise &&
                  0.5 * rec.amp2 * rec.amp2 >= block_find_ratio * bin_noise;
    if (!rec.present) {
        return;
    }
    // arg z2 - 2 arg z1 with z = a - jb: tone 2 minus twice tone 1 at the centre.
    const double r1 = coef[0], i1 = -coef[1], r2 = coef[2], i2 = -coef[3];
    const double zr = r1 * r1 - i1 * i1;
    const double zi = -2.0 * r1 * i1;
    const double raw = std::atan2(i2 * zr + r2 * zi, r2 * zr - i2 * zi);
    // arg z2 - arg z1 turns by 2 pi (spacing - 1000 Hz) x 40 ms a block: 40 whole turns go.
    const double raw_spacing = std::atan2(i2 * r1 - r2 * i1, r2 * r1 + i2 * i1);
    // The first block after silence or a gap is mostly only partly filled: its phase, taken at
    // the centre, is off in proportion to how far the mixers sit from df.
    rec.edge = !have_phase_ || last_phase_index_ != rec.index - 1;
    if (!have_phase_) {
        rec.phase = raw;
        rec.spacing_phase = raw_spacing;
    } else {
        const double df = have_fit_ ? fit_df_ : mixer_df_;
        const double spacing = have_fit_ ? fit_spacing_hz_ : 0.0;
        const double gap = static_cast<double>(rec.index - last_phase_index_);
        const double predicted = last_phase_ - 2.0 * pi * df * gap * block_s;
        rec.phase = predicted + wrap(raw - predicted);
        const double predicted_spacing = last_spacing_phase_ + 2.0 * pi * spacing * gap * block_s;
        rec.spacing_phase = predicted_spacing + wrap(raw_spacing - predicted_spacing);
    }
    have_phase_ = true;
    last_phase_ = rec.phase;
    last_spacing_phase_ = rec.spacing_phase;
    last_phase_index_ = rec.index;
}

void DfEstimator::update_reading() {
    DfReading r;
    const int64_t first = std::max(segment_start_, block_index_ - (window_blocks - 1));
    const int64_t first_second = std::max<int64_t>(0, block_index_ - (window_blocks - 1));
    double sum_sq = 0.0, tone = 0.0, noise = 0.0;
    int seen = 0;
    size_t present = 0;
    for (const auto& b : history_) {
        if (b.index < first_second) {
            continue;
        }
        ++seen;
        sum_sq += b.sum_sq;
        r.peak = std::max(r.peak, b.peak);
        r.clipped += b.clipped;
        if (b.present && b.index >= first && locked_) {
            tone += b.tone_power;
            noise += b.noise_power;
            median_a_[present] = b.amp1;
            median_b_[present] = b.amp2;
            ++present;
        }
    }
    r.rms = seen > 0 ? std::sqrt(sum_sq / (seen * static_cast<double>(block_samples))) : 0.0;
    if (present == 0) {
        have_fit_ = false;
        reading_ = r;
        return;
    }
    r.tone_rms = std::sqrt(tone / static_cast<double>(present));
    r.snr_db = 10.0 * std::log10(tone / noise);
    if (r.clipped > max_clipped_per_second) {
        r.verdict = Verdict::clipping;
    } else if (r.tone_rms < min_tone_rms) {
        r.verdict = Verdict::level_too_low;
    } else {
        r.verdict = Verdict::good;
    }

    const double median_a = median_of(median_a_, present);
    const double median_b = median_of(median_b_, present);
    // Weighted least squares over the blocks that pass the gate, times and phases taken from the
    // first. A tone's phase varies as the noise over its power: the weight is the inverse of
    // var(arg z2 - 2 arg z1) and var(arg z2 - arg z1) alike, up to a constant.
    const double df_now = have_fit_ ? fit_df_ : mixer_df_;
    const double spacing_now = have_fit_ ? fit_spacing_hz_ : 0.0;
    int count = 0;
    int64_t t0 = 0, t_first = 0, t_last = 0;
    double y0 = 0.0, sw = 0.0, st = 0.0, sy = 0.0, stt = 0.0, sty = 0.0;
    double v0 = 0.0, sv = 0.0, stv = 0.0; // the same for the spacing phase
    for (const auto& b : history_) {
        const double gate = b.edge ? edge_gate : 0.5;
        if (!b.present || b.index < first || b.amp1 < gate * median_a || b.amp2 < gate * median_b) {
            continue;
        }
        double phase = b.phase;
        double spacing_phase = b.spacing_phase;
        if (b.edge) {
            // Filled only over its last part, the block's phases are those of that part's middle,
            // carried to the block's centre at the mixers' rates rather than the tones' own.
            const double fill = std::min(1.0, 0.5 * (b.amp1 / median_a + b.amp2 / median_b));
            const double late_s = 0.5 * (1.0 - fill) * block_s;
            phase += 2.0 * pi * (df_now - b.mixer_df) * late_s;
            spacing_phase -= 2.0 * pi * spacing_now * late_s;
        }
        if (count == 0) {
            t0 = b.index;
            y0 = phase;
            v0 = spacing_phase;
            t_first = t_last = b.index;
        }
        t_first = std::min(t_first, b.index);
        t_last = std::max(t_last, b.index);
        const double w =
            1.0 / (b.noise_power * (1.0 / (b.amp2 * b.amp2) + 4.0 / (b.amp1 * b.amp1)));
        const double t = static_cast<double>(b.index - t0);
        sw += w;
        st += w * t;
        sy += w * (phase - y0);
        stt += w * t * t;
        sty += w * t * (phase - y0);
        sv += w * (spacing_phase - v0);
        stv += w * t * (spacing_phase - v0);
        ++count;
    }
    const double denom = sw * stt - st * st;
    if (count >= min_fit_blocks && denom > 0.0) {
        const double slope = (sw * sty - st * sy) / denom; // radians per block
        const double spacing_slope = (sw * stv - st * sv) / denom;
        fit_df_ = -slope / (2.0 * pi * block_s);
        fit_spacing_hz_ = std::clamp(spacing_slope / (2.0 * pi * block_s),
                                     -max_clock_error * spacing_hz, max_clock_error * spacing_hz);
        have_fit_ = true;
        // Capture hertz to the hertz the tones were sent in: their spacing as sent over as read.
        r.df_hz = fit_df_ * spacing_hz / (spacing_hz + fit_spacing_hz_);
        r.has_df = true;
        r.span_s = static_cast<double>(t_last - t_first + 1) * block_s;
    }
    reading_ = r;
}

const char* verdict_text(Verdict v) {
    switch (v) {
    case Verdict::no_signal:
        return "No signal";
    case Verdict::level_too_low:
        return "Level too low";
    case Verdict::clipping:
        return "Clipping";
    case Verdict::good:
        return "Good";
    }
    return "No signal";
}

} // namespace dsp

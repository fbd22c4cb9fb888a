// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/df_estimator.h"

#include "dsp/slope_fit.h"
#include "dsp/stream_format.h"
#include "dsp/two_tone.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

using namespace two_tone;

static_assert(DfEstimator::block_samples == two_tone::block_samples);
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
// A block whose phase advance departs from the one seen lately by more than this many standard
// deviations of its noise is off the line: the input jumped in time, the block is an outlier, or
// df itself moved. Never less than jump_floor_rad: without noise, what is left (the 8-bit
// rounding, df drifting by 1 Hz a second) stays well under it.
constexpr double jump_sigmas = 6.0;
constexpr double jump_floor_rad = 0.05;
// How fast the advance and the phase noise seen lately follow the blocks that keep to them.
constexpr double rate_follow = 0.5;
// Blocks in a row off the old advance, the last two agreeing, that mean df moved (the dial).
constexpr int moved_blocks = 3;
// A block whose phase noise is this many times the usual fits the tones badly: a jump inside it,
// or a burst. Noise alone moves the estimate by some 20 % at 0 dB.
constexpr double torn_var_ratio = 4.0;

double wrap(double x) {
    return x - 2.0 * pi * std::floor(x / (2.0 * pi) + 0.5);
}

} // namespace

DfEstimator::DfEstimator()
    : block_(block_samples), earlier_(block_samples), history_(window_blocks),
      median_a_(window_blocks), median_b_(window_blocks) {
    reset();
}

void DfEstimator::reset() {
    fill_ = 0;
    block_index_ = 0;
    spectrum_.clear();
    tones_found_ = false;
    lock_ = Lock{};
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

void DfEstimator::lock(double df_hz, int64_t locked_at) {
    lock_ = Lock{};
    lock_.locked = true;
    lock_.locked_at = locked_at;
    lock_.segment_start = block_index_;
    demod_.tune(df_hz);
}

// Takes, keeps or starts over the lock from what the spectrum found in this block.
void DfEstimator::follow_coarse(bool found, double coarse_df, bool& fresh_lock) {
    if (!found) {
        return;
    }
    if (!lock_.locked) {
        lock(coarse_df, block_index_);
        fresh_lock = true;
    } else if (lock_.locked_at == block_index_ - 1 &&
               std::fabs(coarse_df - demod_.mixer_df()) > relock_hz) {
        // The lock just taken rested on a spectrum the signal had only begun to fill; this one
        // holds a block more of it. Start over from it, the block before included.
        lock(coarse_df, lock_.locked_at);
        fresh_lock = true;
    } else {
        const double fine = lock_.have_fit ? lock_.fit_df : demod_.mixer_df();
        lock_.disagree_run = std::fabs(coarse_df - fine) > relock_hz ? lock_.disagree_run + 1 : 0;
        if (lock_.disagree_run >= relock_blocks) {
            lock(coarse_df, lock_.locked_at);
        }
    }
}

void DfEstimator::process_block() {
    BlockRecord rec;
    rec.index = block_index_;
    for (double v : block_) {
        const double d = v - silence_byte;
        rec.sum_sq += d * d;
        rec.peak = std::max(rec.peak, static_cast<int>(std::fabs(d)));
        rec.clipped += (v == 0.0 || v == 255.0) ? 1 : 0;
        spectrum_.push(v);
    }
    double coarse_df = 0.0;
    const bool found = spectrum_.find(coarse_df);
    tones_found_ = found;
    bool fresh_lock = false;
    follow_coarse(found, coarse_df, fresh_lock);

    if (lock_.locked) {
        // The spectrum needs the signal in much of its 93 ms before it finds it: the block
        // before, still in its window, often holds signal already. (Not after a jump of df: that
        // block holds the old offset.)
        auto& previous =
            history_[static_cast<size_t>((block_index_ + window_blocks - 1) % window_blocks)];
        if (fresh_lock && previous.index == block_index_ - 1) {
            spectrum_.copy_recent(2 * block_samples, block_samples, earlier_.data());
            lock_.segment_start = previous.index;
            fine_stage(earlier_.data(), previous);
        }
        fine_stage(block_.data(), rec);
        if (rec.present) {
            lock_.absent_run = 0;
        } else if (++lock_.absent_run >= absent_blocks_to_drop) {
            lock_ = Lock{};
            lock_.segment_start = block_index_ + 1;
        }
    }
    history_[static_cast<size_t>(block_index_ % window_blocks)] = rec;
    update_reading();
    if (lock_.have_fit && std::fabs(lock_.fit_df - demod_.mixer_df()) > retune_hz) {
        demod_.tune(lock_.fit_df);
    }
    ++block_index_;
}

void DfEstimator::fine_stage(const double* block, BlockRecord& rec) {
    static_cast<BlockFit&>(rec) = demod_.fit(block);
    rec.mixer_df = demod_.mixer_df();
    rec.new_piece = false;
    rec.left_out = false;
    if (!rec.present) {
        return;
    }
    // The first block after silence or a gap is mostly only partly filled: its phase, taken at
    // the centre, is off in proportion to how far the mixers sit from df.
    Lock& s = lock_;
    rec.edge = !s.have_phase || s.last_phase_index != rec.index - 1;
    if (s.have_phase) {
        const double df = s.have_fit ? s.fit_df : demod_.mixer_df();
        const double spacing = s.have_fit ? s.fit_spacing_hz : 0.0;
        const double gap = static_cast<double>(rec.index - s.last_phase_index);
        const double predicted = s.last_phase - 2.0 * pi * df * gap * block_s;
        rec.phase = predicted + wrap(rec.phase - predicted);
        // arg z2 - arg z1 turns by 2 pi (spacing - 1000 Hz) x 40 ms a block: 40 whole turns go.
        const double predicted_spacing = s.last_spacing_phase + 2.0 * pi * spacing * gap * block_s;
        rec.spacing_phase = predicted_spacing + wrap(rec.spacing_phase - predicted_spacing);
        // Across a block without the tones, which a jump inside it can leave, too.
        // Under min_tone_rms the rounding, which follows the signal, sets the phases' error, not
        // the noise the limits there rest on: no block is taken for a jump then.
        watch_time(rec, rec.phase - s.last_phase, rec.spacing_phase - s.last_spacing_phase, gap,
                   s.have_fit && reading_.tone_rms >= min_tone_rms);
    } else {
        watch_time(rec, 0.0, 0.0, 1.0, false);
    }
    s.have_phase = true;
    s.last_phase = rec.phase;
    s.last_spacing_phase = rec.spacing_phase;
    s.last_phase_index = rec.index;
}

DfEstimator::BlockRecord* DfEstimator::recorded(int64_t index) {
    if (index < 0) {
        return nullptr;
    }
    auto& b = history_[static_cast<size_t>(index % window_blocks)];
    return b.index == index ? &b : nullptr;
}

// Samples lost on the way in (a sound server that missed a period) or a sender that stalled and
// went on where it left off move the signal in time: both phases jump, by 2 pi df and 2 pi 1000 Hz
// times the time lost. Fitted across such a jump as one line they read df off by df times the
// share of time lost. Against the advance per block seen lately, a jump is one block off (two if
// it fell inside a block, which it tears: that block fits the tones badly and its phases lie
// between), after which the blocks keep to the advance again, on a line of their own; a noisy
// block is off and the next one is back on the old line; a turn of the dial changes the advance
// for good. So blocks off the advance, or torn, are left out at once, and the first block that
// keeps to the advance from a sound block before it tells which it was: a jump starts a new piece
// of the fit (one slope, an offset per piece) with the blocks on the new line, an outlier leaves
// only itself out. Blocks off in a row that agree on a new advance are df that moved: all are
// taken back, and the advance is theirs.
void DfEstimator::watch_time(BlockRecord& rec, double advance, double spacing_advance,
                             double blocks, bool chained) {
    Lock& s = lock_;
    // var(arg z) of a tone fitted over n samples is 2 noise / (n amp^2).
    const double unit = 2.0 * rec.noise_power / static_cast<double>(block_samples);
    const double var = unit * (1.0 / (rec.amp2 * rec.amp2) + 4.0 / (rec.amp1 * rec.amp1));
    const double spacing_var = unit * (1.0 / (rec.amp2 * rec.amp2) + 1.0 / (rec.amp1 * rec.amp1));
    // The advance is a difference of two phases, and the rate holds the one before with weight
    // 1.5 and a few earlier ones: var(d) is 3.33 times a block's, which 2.5 covers.
    const auto limit = [](double v) {
        return std::max(jump_floor_rad, jump_sigmas * std::sqrt(v));
    };
    const double tol = limit(var + 2.5 * s.last_var);
    const double spacing_tol = limit(spacing_var + 2.5 * s.last_spacing_var);
    const bool last_torn = s.last_torn;
    // The block before the last one, for a jump shared between two advances.
    const BlockBefore two_back = s.two_back;
    s.two_back = {s.last_phase, s.last_spacing_phase, s.last_phase_index, s.last_var,
                  s.last_spacing_var};
    const bool pair_ready = s.pair_ready;
    s.pair_ready = false;
    s.last_var = var;
    s.last_spacing_var = spacing_var;
    s.last_torn = false;
    if (!chained) {
        s.have_rate = false;
        s.run_length = 0;
        return;
    }
    if (!s.have_rate) {
        s.rate = -2.0 * pi * s.fit_df * block_s;
        s.spacing_rate = 2.0 * pi * s.fit_spacing_hz * block_s;
        s.usual_var = var;
        s.have_rate = true;
    }
    s.last_torn = var > torn_var_ratio * s.usual_var;
    const double d = wrap(advance - blocks * s.rate);
    const double ds = wrap(spacing_advance - blocks * s.spacing_rate);
    const bool off = std::fabs(d) > tol || std::fabs(ds) > spacing_tol;
    if (s.run_length == 0 && !off && !s.last_torn && pair_ready && blocks == 1.0) {
        // A jump inside the block before, its phases half way, may leave each of two advances
        // under the limit but not both together: taken against the rate before that block
        // (d then carries 1 + rate_follow of the last d), their sum weighs n(k) - 2 n(k-2).
        const double pd = d + (1.0 + rate_follow) * s.last_d;
        const double pds = ds + (1.0 + rate_follow) * s.last_ds;
        if (std::fabs(pd) > limit(var + 4.5 * two_back.var) ||
            std::fabs(pds) > limit(spacing_var + 4.5 * two_back.spacing_var)) {
            BlockRecord* torn = recorded(s.last_phase_index);
            s.rate -= rate_follow * s.last_d;
            s.spacing_rate -= rate_follow * s.last_ds;
            s.run_start = s.last_phase_index;
            s.run_base = two_back.phase;
            s.run_spacing_base = two_back.spacing_phase;
            s.run_base_index = two_back.index;
            s.run_excess = pd;
            s.run_spacing_excess = pds;
            s.run_last = pd - s.last_d;
            s.run_spacing_last = pds - s.last_ds;
            s.run[0] = {s.last_phase_index, s.last_d, s.last_ds, true};
            s.run[1] = {rec.index, pd, pds, false};
            s.run_length = 2;
            torn->left_out = true;
            rec.left_out = true;
            return;
        }
    }
    if (s.run_length == 0 && !off && !s.last_torn) {
        s.rate += rate_follow * d / blocks;
        s.spacing_rate += rate_follow * ds / blocks;
        s.usual_var += rate_follow * (var - s.usual_var);
        s.pair_ready = blocks == 1.0;
        s.last_d = d;
        s.last_ds = ds;
        return;
    }
    if (s.run_length > 0 && !off && !last_torn) {
        settle_run(rec, wrap(s.run_excess + d), wrap(s.run_spacing_excess + ds), tol, spacing_tol);
        s.rate += rate_follow * d / blocks;
        s.spacing_rate += rate_follow * ds / blocks;
        return;
    }
    if (s.run_length == 0) {
        s.run_start = rec.index;
        s.run_excess = s.run_spacing_excess = 0.0;
        s.run_base = s.last_phase;
        s.run_spacing_base = s.last_spacing_phase;
        s.run_base_index = s.last_phase_index;
    }
    const bool agrees = s.run_length > 0 && std::fabs(wrap(d - s.run_last)) <= tol &&
                        std::fabs(wrap(ds - s.run_spacing_last)) <= spacing_tol;
    rec.left_out = true;
    s.run_excess += d;
    s.run_spacing_excess += ds;
    s.run_last = d;
    s.run_spacing_last = ds;
    auto& step = s.run[static_cast<size_t>(s.run_length++)];
    step = {rec.index, s.run_excess, s.run_spacing_excess, s.last_torn};
    if (s.run_length >= moved_blocks && off && agrees && !s.last_torn && !last_torn) {
        for (int64_t i = s.run_start; i <= rec.index; ++i) {
            if (BlockRecord* b = i == rec.index ? &rec : recorded(i)) {
                b->left_out = false;
            }
        }
        s.rate = advance / blocks;
        s.spacing_rate = spacing_advance / blocks;
        s.run_length = 0;
    } else if (s.run_length == max_run_blocks) {
        // Nothing sound to tell by: a new piece after the run, and the advance taken afresh.
        rec.new_piece = true;
        s.run_length = 0;
        s.have_rate = false;
    }
}

// A sound block after a run: e is where it stands against the line the run left.
void DfEstimator::settle_run(BlockRecord& rec, double e, double es, double tol,
                             double spacing_tol) {
    Lock& s = lock_;
    const bool jump = std::fabs(e) > tol || std::fabs(es) > spacing_tol;
    const double on = jump ? e : 0.0, spacing_on = jump ? es : 0.0;
    for (int i = 0; i < s.run_length; ++i) {
        const RunStep& step = s.run[static_cast<size_t>(i)];
        BlockRecord* b = recorded(step.index);
        if (b == nullptr || step.torn || std::fabs(wrap(step.excess - on)) > tol ||
            std::fabs(wrap(step.spacing_excess - spacing_on)) > spacing_tol) {
            continue;
        }
        b->left_out = false;
        // Sums of wrapped steps may have slipped a turn: placed on its line instead, as this
        // block is, so that no turn lies between the two.
        const double steps = static_cast<double>(b->index - s.run_base_index);
        b->phase = s.run_base + steps * s.rate + on + wrap(step.excess - on);
        b->spacing_phase = s.run_spacing_base + steps * s.spacing_rate + spacing_on +
                           wrap(step.spacing_excess - spacing_on);
    }
    const double steps = static_cast<double>(rec.index - s.run_base_index);
    rec.phase = s.run_base + steps * s.rate + e;
    rec.spacing_phase = s.run_spacing_base + steps * s.spacing_rate + es;
    if (jump) {
        if (BlockRecord* start = recorded(s.run_start)) {
            start->new_piece = true;
        }
    }
    s.run_length = 0;
}

// The levels and verdict over the last second, then the fit over the blocks of this lock in it.
void DfEstimator::update_reading() {
    DfReading r;
    const int64_t first = std::max(lock_.segment_start, block_index_ - (window_blocks - 1));
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
        if (b.present && b.index >= first && lock_.locked) {
            tone += b.tone_power;
            noise += b.noise_power;
            median_a_[present] = b.amp1;
            median_b_[present] = b.amp2;
            ++present;
        }
    }
    r.rms = seen > 0 ? std::sqrt(sum_sq / (seen * static_cast<double>(block_samples))) : 0.0;
    if (present == 0) {
        lock_.have_fit = false;
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
    fit_phases(first, present, r);
    reading_ = r;
}

// Weighted least squares over the blocks that pass the gate. A tone's phase varies as the noise
// over its power: the weight is the inverse of var(arg z2 - 2 arg z1) and var(arg z2 - arg z1)
// alike, up to a constant.
void DfEstimator::fit_phases(int64_t first, size_t present, DfReading& r) {
    const double median_a = median_of(median_a_, present);
    const double median_b = median_of(median_b_, present);
    const double df_now = lock_.have_fit ? lock_.fit_df : demod_.mixer_df();
    const double spacing_now = lock_.have_fit ? lock_.fit_spacing_hz : 0.0;
    SlopeFit fit;
    bool new_piece = false;
    for (int64_t i = first; i <= block_index_; ++i) {
        const BlockRecord* found = recorded(i);
        if (found == nullptr) {
            continue;
        }
        const BlockRecord& b = *found;
        new_piece = new_piece || b.new_piece;
        const double gate = b.edge ? edge_gate : 0.5;
        if (!b.present || b.left_out || b.amp1 < gate * median_a || b.amp2 < gate * median_b) {
            continue;
        }
        if (new_piece && fit.count() > 0) {
            fit.next_piece();
        }
        new_piece = false;
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
        const double w =
            1.0 / (b.noise_power * (1.0 / (b.amp2 * b.amp2) + 4.0 / (b.amp1 * b.amp1)));
        fit.add(b.index, phase, spacing_phase, w);
    }
    double slope = 0.0, spacing_slope = 0.0; // radians per block
    if (fit.count() >= min_fit_blocks && fit.solve(slope, spacing_slope)) {
        lock_.fit_df = -slope / (2.0 * pi * block_s);
        lock_.fit_spacing_hz =
            std::clamp(spacing_slope / (2.0 * pi * block_s), -max_clock_error * spacing_hz,
                       max_clock_error * spacing_hz);
        lock_.have_fit = true;
        // Capture hertz to the hertz the tones were sent in: their spacing as sent over as read.
        r.df_hz = lock_.fit_df * spacing_hz / (spacing_hz + lock_.fit_spacing_hz);
        r.has_df = true;
        r.span_s = static_cast<double>(fit.span_blocks()) * block_s;
    }
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

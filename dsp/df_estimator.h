// SPDX-License-Identifier: GPL-3.0-or-later
// The signed offset df between the returned two-tone and the one sent, from captured samples.
//
// Coarse stage: a 1024-point spectrum finds each tone within +-70 Hz of nominal; 2 f1' - f2' is
// df free of any sample-clock error. Fine stage: both tones are demodulated over blocks of 441
// samples (40 ms, whole cycles of both) at 1000 + dm and 2000 + dm, dm the coarse df at lock;
// the phase of z2 conj(z1)^2 falls at 2 pi df per second. Its unwrapped history over the last
// second (shorter just after the signal appeared) is fitted by least squares, each block weighted
// by its own phase variance; blocks where a tone is under half its median level (a fade, the end
// of the signal) are left out. The first block of a signal, mostly only partly filled, counts
// from a quarter of that level on, at the weight its level earns.
// The input jumping in time (samples lost on the way in, a sender that stalled) makes both phases
// jump: the blocks after a jump are a new piece of the fit, one slope with an offset per piece,
// and a block torn by it is left out (watch_time).
//
// That slope is df in the capture's own hertz: a capture clock p ppm fast reads it p ppm low.
// The phase of z2 conj(z1) turns with the tones' spacing, 1000 Hz as sent, and fitted the same
// way it measures the capture clock against the playback clock; the reading is scaled by it, so
// df comes out in the hertz the tones were sent in.
#pragma once

#include "dsp/block_demod.h"
#include "dsp/coarse_spectrum.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

enum class Verdict { no_signal, level_too_low, clipping, good };

struct DfReading {
    bool has_df = false; // false while there is no usable two-tone
    double df_hz = 0.0;  // returned minus sent: positive when both tones come back higher
    double span_s = 0.0; // seconds of signal the reading rests on (up to 1)
    double rms = 0.0;    // input level: rms about 128, in 8-bit steps
    int peak = 0;        // largest |sample - 128| in the last second
    int clipped = 0;     // samples at 0 or 255 in the last second
    double snr_db = 0.0; // the two tones against the rest of the 0-5.5 kHz band
    Verdict verdict = Verdict::no_signal;
    double tone_rms = 0.0; // rms of the two tones alone, in 8-bit steps
};

class DfEstimator {
  public:
    static constexpr size_t block_samples = BlockDemodulator::block_samples; // 40 ms
    static constexpr int window_blocks = 25; // the 1 s the fit spans
    static constexpr int min_fit_blocks = 3;
    // Below this two-tone rms (a quarter of the full level) the 8-bit rounding, which follows
    // the signal, begins to show: measured without noise it scatters 1-s readings by 0.3 mHz at
    // 10 LSB but 4 mHz at 5 and 7 mHz at 2 (docs/accuracy.md); 16 keeps a margin over that knee.
    static constexpr double min_tone_rms = 16.0;
    // More clipped samples than this in a second distort the tones (0.1 % of the samples;
    // a lone noise peak at full scale does not).
    static constexpr int max_clipped_per_second = 11;

    DfEstimator(); // every buffer is allocated here, nothing per block
    void reset();  // forget everything (the tone was switched off, capture restarted)
    // Feeds captured samples (u8, 11025/s). Returns how many new readings were made (one every
    // 40 ms of input); reading() is the latest.
    int push(const unsigned char* samples, size_t count);
    const DfReading& reading() const { return reading_; }
    // Whether the spectrum of the last block found both tones: a two-tone is there now, whatever
    // the reading still rests on.
    bool tones_found() const { return tones_found_; }

  private:
    // A block's fit, its phases unwrapped along the lock's history, and its levels.
    struct BlockRecord : BlockFit {
        int64_t index = -1;
        bool edge = false;      // the first after a block without both tones
        double mixer_df = 0.0;  // where the mixers sat when the block was fitted
        bool new_piece = false; // the input jumped in time just before it (see watch_time)
        bool left_out = false;  // torn by such a jump, or far off the line: not fitted
        double sum_sq = 0.0;    // of sample - 128
        int peak = 0;
        int clipped = 0;
    };

    // A block of a run off the advance: where it stands against the line before the run.
    static constexpr int max_run_blocks = 8;
    struct RunStep {
        int64_t index = 0;
        double excess = 0.0, spacing_excess = 0.0;
        bool torn = false;
    };

    struct BlockBefore {
        double phase = 0.0, spacing_phase = 0.0;
        int64_t index = 0;
        double var = 0.0, spacing_var = 0.0;
    };

    // What one lock on a signal builds up; a new lock or the signal's end starts it afresh.
    struct Lock {
        bool locked = false;
        int64_t locked_at = -1;    // the block whose spectrum first found the signal
        int64_t segment_start = 0; // the first block the fit may use
        int absent_run = 0;
        int disagree_run = 0;
        bool have_phase = false;
        double last_phase = 0.0;
        double last_spacing_phase = 0.0;
        int64_t last_phase_index = 0;
        // What watch_time keeps: both phases' advance per block as seen lately, how noisy the
        // block before was, and the blocks in a row off that advance, not yet explained.
        bool have_rate = false;
        double rate = 0.0, spacing_rate = 0.0;
        double usual_var = 0.0; // of the phase, over the blocks that kept to the advance
        double last_var = 0.0, last_spacing_var = 0.0;
        bool last_torn = false;
        int64_t run_start = 0, run_base_index = 0;
        int run_length = 0;
        double run_excess = 0.0, run_spacing_excess = 0.0; // summed over the run
        double run_last = 0.0, run_spacing_last = 0.0;     // the last step's
        double run_base = 0.0, run_spacing_base = 0.0;     // the phases before it
        std::array<RunStep, max_run_blocks> run{};
        // The last block's d against the rate, when it kept to it from the block before.
        bool pair_ready = false;
        double last_d = 0.0, last_ds = 0.0;
        BlockBefore two_back;
        bool have_fit = false;
        double fit_df = 0.0;         // in the capture's hertz, as the mixers need it
        double fit_spacing_hz = 0.0; // the tones' spacing less 1000 Hz, in the capture's hertz
    };

    void process_block();
    void follow_coarse(bool found, double coarse_df, bool& fresh_lock);
    void lock(double df_hz, int64_t locked_at);
    void fine_stage(const double* block, BlockRecord& rec);
    void watch_time(BlockRecord& rec, double advance, double spacing_advance, double blocks,
                    bool chained);
    void settle_run(BlockRecord& rec, double e, double es, double tol, double spacing_tol);
    BlockRecord* recorded(int64_t index);
    void update_reading();
    void fit_phases(int64_t first, size_t present, DfReading& r);

    std::vector<double> block_;
    size_t fill_ = 0;
    int64_t block_index_ = 0;

    CoarseSpectrum spectrum_;
    BlockDemodulator demod_;
    std::vector<double> earlier_; // the block before, taken again from the spectrum's window
    Lock lock_;

    std::vector<BlockRecord> history_; // ring of window_blocks
    std::vector<double> median_a_, median_b_;
    DfReading reading_;
    bool tones_found_ = false;
};

const char* verdict_text(Verdict v); // "No signal", "Level too low", "Clipping", "Good"

} // namespace dsp

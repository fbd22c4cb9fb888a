// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/coarse_spectrum.h"
#include "dsp/df_estimator.h"
#include "dsp/synth.h"
#include "sim/link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// The synthesizer's exact bytes through the simulated SSB link.
std::vector<unsigned char> returned(double seconds, const radio_path::LinkSettings& link,
                                    double start_phase = 0.0) {
    std::vector<uint8_t> sent(static_cast<size_t>(seconds * dsp::sample_rate_hz));
    double phase = start_phase;
    dsp::synthesize(sent.data(), sent.size(), dsp::base_frequency_hz, phase);
    std::vector<uint8_t> captured;
    radio_path::Link(link).process(sent.data(), sent.size(), captured);
    return captured;
}

dsp::DfReading measure(dsp::DfEstimator& e, const std::vector<unsigned char>& bytes) {
    e.push(bytes.data(), bytes.size());
    return e.reading();
}

class DfTable : public ::testing::TestWithParam<double> {};

// Sign and value over the whole range: each offset comes back as itself, never folded by a
// multiple of the 25 Hz block rate and never with the sign turned.
TEST_P(DfTable, ReadsTheOffsetWithItsSign) {
    const double df = GetParam();
    dsp::DfEstimator e;
    radio_path::LinkSettings link;
    link.df_hz = df;
    link.band_limit = true;
    const auto r = measure(e, returned(2.0, link));
    ASSERT_TRUE(r.has_df);
    EXPECT_NEAR(r.df_hz, df, 0.002); // never folded, never the sign turned: |df| >= 0.05
    EXPECT_NEAR(r.span_s, 1.0, 1e-9);
    EXPECT_EQ(r.verdict, dsp::Verdict::good);
    EXPECT_GT(r.snr_db, 35.0);
    EXPECT_NEAR(r.tone_rms, 63.0, 1.5);
}

INSTANTIATE_TEST_SUITE_P(Offsets, DfTable,
                         ::testing::Values(-45.0, -30.0, -3.0, -0.5, -0.05, 0.0, 0.05, 0.5, 3.0,
                                           30.0, 45.0));

// The input broken in time now and then, as a sound server that misses a period breaks it:
// samples lost, or the sender stalled for a moment (silence, then the signal where it left off).
// Fitted across as one line, 7.3 Hz read 7.55 with 256 samples lost every 0.7 s (at -43 Hz the
// two-tone phase hardly jumps but the spacing's does, which the clock correction took in). Each
// reading after the first second must stay on df, resting on the whole second; a turn of the dial,
// 3 Hz or 4.5 Hz (more than a radian a block), alone or among jumps, must still be followed.
TEST(DfBroken, AJumpInTimeNeitherBendsNorShortensTheReadingButATurnIsFollowed) {
    struct Case {
        const char* name;
        double df, turned_to; // the dial turned at 3 s
        int jump;             // samples lost; negative: silence the sender stalled for
        size_t every;
        double noise_rms, tolerance;
    };
    const Case cases[] = {
        {"256 lost every 0.7 s", 7.3, 7.3, 256, 7717, 0.0, 0.002},
        {"441 lost every 0.5 s", 7.3, 7.3, 441, 5512, 0.0, 0.002},
        {"stalled 23 ms every 0.7 s", 7.3, 7.3, -256, 7717, 0.0, 0.002},
        {"256 lost at -43 Hz", -43.0, -43.0, 256, 7717, 0.0, 0.002},
        {"100 lost at 1.5 Hz", 1.5, 1.5, 100, 7717, 0.0, 0.002},
        {"256 lost at 10 dB", 7.3, 7.3, 256, 7717, 13.0, 0.04},
        {"441 lost at 37.68 Hz, 10 dB: half a turn", 37.68, 37.68, 441, 7717, 13.0, 0.04},
        {"441 lost at 3.4 Hz, 10 dB: split in two", 3.4, 3.4, 441, 7717, 13.0, 0.04},
        {"turned 3 Hz", 7.3, 10.3, 0, 7717, 0.0, 0.002},
        {"turned 4.5 Hz, 256 lost every 0.7 s", 7.3, 2.8, 256, 7717, 0.0, 0.002},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        radio_path::LinkSettings link{c.df, c.noise_rms > 0.0 ? 0.66 : 1.0, c.noise_rms};
        link.band_limit = true;
        std::vector<uint8_t> sent(6 * dsp::sample_rate_hz);
        double phase = 0.0;
        dsp::synthesize(sent.data(), sent.size(), dsp::base_frequency_hz, phase);
        radio_path::Link path(link);
        std::vector<uint8_t> clean;
        const size_t turn = 3 * dsp::sample_rate_hz;
        path.process(sent.data(), turn, clean);
        link.df_hz = c.turned_to;
        path.set(link);
        path.process(sent.data() + turn, sent.size() - turn, clean);
        std::vector<unsigned char> broken;
        size_t turned_at = 0; // where the turn reached the input, which lost or gained time
        for (size_t i = 0; i < clean.size(); ++i) {
            if (i == turn) {
                turned_at = broken.size();
            }
            if (c.jump != 0 && i > 0 && i % c.every == 0) {
                if (c.jump > 0) {
                    i += static_cast<size_t>(c.jump);
                } else {
                    broken.insert(broken.end(), static_cast<size_t>(-c.jump), dsp::silence_byte);
                }
            }
            if (i < clean.size()) {
                broken.push_back(clean[i]);
            }
        }
        dsp::DfEstimator e;
        for (size_t at = 0; at + 441 <= broken.size(); at += 441) {
            e.push(&broken[at], 441);
            const bool before_turn = at + 441 < turned_at;
            if (at > dsp::sample_rate_hz && (before_turn || at > turned_at + 13230)) {
                ASSERT_TRUE(e.reading().has_df) << at;
                EXPECT_NEAR(e.reading().df_hz, before_turn ? c.df : c.turned_to, c.tolerance) << at;
            }
        }
        EXPECT_NEAR(e.reading().span_s, 1.0, 0.05);
    }
}

// The capture clock off by p ppm moves the tones by -1000 p and -2000 p ppm Hz, which the
// two-tone phase cancels, and reads df itself p ppm low, which the tones' spacing corrects:
// df comes out in the hertz the tones were sent in, also 1000 ppm off and with a gap.
TEST(DfClock, ClockDifferenceLeavesNoShareOfDf) {
    for (double ppm : {-1000.0, -300.0, 300.0, 1000.0}) {
        for (double df : {-50.0, -30.0, 0.0, 3.0, 50.0}) {
            radio_path::LinkSettings link;
            link.df_hz = df;
            link.clock_ppm = ppm;
            link.band_limit = true;
            dsp::DfEstimator e;
            auto bytes = returned(2.0, link);
            // A 100 ms dropout inside the last second: the fit carries over the gap.
            std::fill_n(bytes.begin() + 16000, 1100, 128);
            const auto r = measure(e, bytes);
            ASSERT_TRUE(r.has_df);
            EXPECT_NEAR(r.df_hz, df, 0.001) << ppm << " ppm, df " << df;
        }
    }
}

TEST(DfVerdicts, EachInputConditionGetsItsVerdict) {
    struct Case {
        std::string name;
        std::vector<unsigned char> bytes;
        dsp::Verdict verdict;
        bool has_df;
    };
    std::vector<unsigned char> noise(2 * dsp::sample_rate_hz);
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(128.0, 30.0);
    for (auto& b : noise) {
        b = static_cast<unsigned char>(std::clamp(std::lround(gauss(rng)), 0L, 255L));
    }
    const std::vector<Case> cases = {
        {"silence", std::vector<unsigned char>(2 * dsp::sample_rate_hz, 128),
         dsp::Verdict::no_signal, false},
        {"noise alone", noise, dsp::Verdict::no_signal, false},
        {"tenth of the level", returned(2.0, {1.0, 0.1}), dsp::Verdict::level_too_low, true},
        {"just under 16 LSB", returned(2.0, {1.0, 0.24}), dsp::Verdict::level_too_low, true},
        {"just over 16 LSB", returned(2.0, {1.0, 0.27}), dsp::Verdict::good, true},
        {"30 % too loud", returned(2.0, {1.0, 1.3}), dsp::Verdict::clipping, true},
        {"noisy but clean", returned(2.0, {1.0, 0.8, 10.0}), dsp::Verdict::good, true},
        {"through a receiver AGC", returned(2.0, {1.0, 1.0, 2.0, 1, 0.0, true, true}),
         dsp::Verdict::good, true},
    };
    for (const auto& c : cases) {
        dsp::DfEstimator e;
        const auto r = measure(e, c.bytes);
        EXPECT_EQ(r.verdict, c.verdict) << c.name << ": " << dsp::verdict_text(r.verdict);
        EXPECT_EQ(r.has_df, c.has_df) << c.name;
        if (r.has_df) {
            EXPECT_NEAR(r.df_hz, 1.0, 0.02) << c.name;
        }
    }
}

TEST(DfLevels, RmsPeakAndClippedCountTheLastSecond) {
    dsp::DfEstimator e;
    auto r = measure(e, returned(2.0, {0.0, 1.3}));
    EXPECT_EQ(r.peak, 128);
    EXPECT_GT(r.clipped, 100);
    EXPECT_NEAR(r.rms, 63.0 * 1.3, 4.0);
    // A second of silence later, the loud second has left every figure.
    r = measure(e, std::vector<unsigned char>(dsp::sample_rate_hz + 441, 128));
    EXPECT_EQ(r.peak, 0);
    EXPECT_EQ(r.clipped, 0);
    EXPECT_EQ(r.rms, 0.0);
}

// Silence, then the tone, starting anywhere in a block: readings follow within a fraction of a
// second and rest on the signal alone; when it stops they stop.
TEST(DfOnset, ReadingsStartSoonAfterTheSignalAndStopWithIt) {
    for (size_t start : {0, 110, 220, 400}) {
        dsp::DfEstimator e;
        const std::vector<unsigned char> silence(5000 + start, 128);
        EXPECT_EQ(e.push(silence.data(), silence.size()), static_cast<int>(silence.size() / 441));
        EXPECT_FALSE(e.reading().has_df);
        const auto tone = returned(1.5, {-12.0});
        double first_within = -1.0;
        for (size_t i = 0; i < tone.size(); i += 441) {
            e.push(tone.data() + i, std::min<size_t>(441, tone.size() - i));
            const auto& r = e.reading();
            const double at = static_cast<double>(i + 441) / dsp::sample_rate_hz;
            if (first_within < 0.0 && r.has_df && std::fabs(r.df_hz + 12.0) < 0.05) {
                first_within = at;
            }
            EXPECT_LE(r.span_s, at + 0.08) << start;
            if (r.has_df) {
                // No reading folded or far off on the way, the partly filled first block in it.
                EXPECT_NEAR(r.df_hz, -12.0, 0.5) << start << " at " << at;
            }
        }
        EXPECT_GT(first_within, 0.0) << start;
        EXPECT_LT(first_within, 0.2) << start;
        EXPECT_NEAR(e.reading().df_hz, -12.0, 0.002) << start;
        measure(e, std::vector<unsigned char>(4 * 441, 128));
        EXPECT_FALSE(e.reading().has_df);
        EXPECT_EQ(e.reading().verdict, dsp::Verdict::no_signal);
    }
}

// The dial turned in one step, by less and by more than half the 25 Hz block rate: the reading
// moves to the new offset within the next second and a half, never to an alias of it.
TEST(DfOnset, FollowsAJumpToAnotherOffset) {
    for (double after : {-9.0, 18.0, 45.0}) {
        dsp::DfEstimator e;
        measure(e, returned(1.5, {3.0}));
        ASSERT_NEAR(e.reading().df_hz, 3.0, 0.002);
        const auto r = measure(e, returned(1.5, {after}, 1.0));
        ASSERT_TRUE(r.has_df);
        EXPECT_NEAR(r.df_hz, after, 0.002);
    }
}

TEST(DfReset, ForgetsTheFormerSignal) {
    dsp::DfEstimator e;
    measure(e, returned(1.5, {20.0, 1.3}));
    e.reset();
    const auto& cleared = e.reading();
    EXPECT_FALSE(cleared.has_df);
    EXPECT_EQ(cleared.verdict, dsp::Verdict::no_signal);
    EXPECT_EQ(cleared.clipped, 0);
    EXPECT_EQ(cleared.rms, 0.0);
    // Straight into another offset: nothing of the old one's phase history or level remains.
    const auto tone = returned(0.3, {-0.5});
    e.push(tone.data(), tone.size());
    EXPECT_TRUE(e.reading().has_df);
    EXPECT_NEAR(e.reading().df_hz, -0.5, 0.01);
    EXPECT_EQ(e.reading().clipped, 0);
    EXPECT_EQ(e.reading().verdict, dsp::Verdict::good);
}

// Whatever the sizes of the pieces pushed, the same blocks are made and read the same.
TEST(DfPush, ChunkSizesDoNotMatter) {
    const auto tone = returned(1.2, {0.5, 1.0, 5.0});
    dsp::DfEstimator whole, pieces;
    EXPECT_EQ(whole.push(tone.data(), tone.size()), static_cast<int>(tone.size() / 441));
    int made = 0;
    for (size_t i = 0, step = 1; i < tone.size(); i += step, step = step * 3 % 1000 + 1) {
        made += pieces.push(tone.data() + i, std::min(step, tone.size() - i));
    }
    EXPECT_EQ(made, static_cast<int>(tone.size() / 441));
    EXPECT_EQ(whole.reading().df_hz, pieces.reading().df_hz);
    EXPECT_EQ(pieces.push(nullptr, 0), 0);
}

// Both tones are needed, each standing out of the band near nominal; df comes out to a fraction
// of the 10.8 Hz bin, well inside the 5 Hz the estimator relocks at.
TEST(CoarseSpectrum, FindsDfOnlyWithBothTones) {
    struct Case {
        double df, amp1, amp2;
        bool found;
    };
    for (const Case c :
         {Case{-45.0, 60.0, 60.0, true}, Case{0.0, 60.0, 60.0, true}, Case{12.3, 30.0, 80.0, true},
          Case{68.0, 60.0, 60.0, true}, Case{0.0, 80.0, 0.0, false}, Case{0.0, 0.0, 80.0, false},
          Case{0.0, 0.2, 0.2, false}}) {
        dsp::CoarseSpectrum s;
        for (size_t i = 0; i < 3 * dsp::CoarseSpectrum::size / 2; ++i) {
            const double w = 2.0 * 3.14159265358979323846 * static_cast<double>(i) / 11025.0;
            s.push(std::round(128.0 + c.amp1 * std::sin(w * (1000.0 + c.df)) +
                              c.amp2 * std::sin(w * (2000.0 + c.df))));
        }
        double df = -1000.0;
        EXPECT_EQ(s.find(df), c.found) << c.df << " " << c.amp1 << " " << c.amp2;
        if (c.found) {
            EXPECT_NEAR(df, c.df, 1.0) << c.df;
        }
    }
}

} // namespace

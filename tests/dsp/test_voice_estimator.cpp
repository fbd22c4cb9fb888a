// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/voice_channel.h"
#include "dsp/stream_format.h"
#include "dsp/voice_estimator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double fs = dsp::sample_rate_hz;

bool have_corpus() {
    return std::filesystem::exists("/usr/share/codec2/wav/hts1a.wav");
}

std::vector<float> speech(const char* name, double seconds) {
    std::string error;
    std::vector<float> x = voice_channel::codec2_file(name, error);
    EXPECT_EQ(error, "");
    return voice_channel::loop_to(x, seconds);
}

// Feeds `x` half a second at a time; counts the readings shown on the way and keeps the last.
int feed(dsp::VoiceEstimator& est, const std::vector<float>& x, dsp::VoiceReading* last = nullptr) {
    int readings = 0;
    const size_t step = size_t(fs / 2);
    for (size_t at = 0; at < x.size(); at += step) {
        est.push(x.data() + at, std::min(step, x.size() - at));
        if (est.reading().state == dsp::VoiceState::reading) {
            ++readings;
            if (last) {
                *last = est.reading();
            }
        }
    }
    return readings;
}

struct Case {
    const char* file;
    double df_hz, snr_db;
};

// Names the case in the test's listing: "morig,-212.6Hz,30dB".
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.file << ',' << c.df_hz << "Hz," << c.snr_db << "dB";
}

class VoiceTable : public ::testing::TestWithParam<Case> {};

// Male and female speech over the range, fractional offsets, through noise and the AGC: a
// reading with its sign, within 3 Hz, after 10 s.
TEST_P(VoiceTable, ReadsTheOffsetWithItsSign) {
    if (!have_corpus()) {
        GTEST_SKIP()
            << "codec2-examples is not installed (/usr/share/codec2): make test installs it";
    }
    const Case c = GetParam();
    voice_channel::Settings s;
    s.df_hz = c.df_hz;
    s.snr_db = c.snr_db;
    dsp::VoiceEstimator est;
    dsp::VoiceReading r;
    ASSERT_GT(feed(est, voice_channel::receive(speech(c.file, 10.0), s), &r), 0)
        << dsp::voice_state_text(est.reading().state);
    EXPECT_NEAR(r.df_hz, c.df_hz, 3.0);
    EXPECT_GT(r.uncertainty_hz, 0.0);
    EXPECT_LT(r.uncertainty_hz, 3.0);
    EXPECT_GT(r.voiced_s, 1.0);
    EXPECT_LT(r.voiced_s, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Speech, VoiceTable,
                         ::testing::Values(Case{"morig", -212.6, 30.0}, Case{"morig", 77.8, 10.0},
                                           Case{"hts2a", -47.5, 20.0}, Case{"forig", 133.3, 20.0},
                                           Case{"big_dog", 231.7, 20.0}));

// A retune in mid-speech: the old reading gives way to a new one (a new serial) at the new
// offset; no reading on the way lies between the two, as an average of both would.
TEST(VoiceRetune, StartsANewReading) {
    if (!have_corpus()) {
        GTEST_SKIP()
            << "codec2-examples is not installed (/usr/share/codec2): make test installs it";
    }
    const std::vector<float> x = speech("morig", 10.0);
    voice_channel::Settings s;
    s.snr_db = 30.0;
    s.df_hz = 40.0;
    std::vector<float> y = voice_channel::receive(x, s);
    s.df_hz = -23.5;
    const std::vector<float> after = voice_channel::receive(x, s);
    y.insert(y.end(), after.begin(), after.end());
    dsp::VoiceEstimator est;
    unsigned first_serial = 0;
    bool read_before = false, read_after = false;
    const size_t step = size_t(fs / 2);
    for (size_t at = 0; at < y.size(); at += step) {
        est.push(y.data() + at, std::min(step, y.size() - at));
        const dsp::VoiceReading& r = est.reading();
        if (r.state != dsp::VoiceState::reading) {
            continue;
        }
        if (!read_before) {
            first_serial = r.serial;
        }
        read_before = true;
        const bool old = std::abs(r.df_hz - 40.0) <= 3.0, now = std::abs(r.df_hz + 23.5) <= 3.0;
        EXPECT_TRUE(old || now) << r.df_hz << " at " << double(at) / fs << " s";
        EXPECT_EQ(r.serial == first_serial, old) << r.df_hz;
        read_after = read_after || (now && at >= x.size());
    }
    EXPECT_TRUE(read_before && read_after);
    const unsigned serial = est.reading().serial;
    est.reset(); // the receiver retuned by hand: nothing of the old reading is left
    EXPECT_EQ(est.reading().state, dsp::VoiceState::no_voice);
    EXPECT_NE(est.reading().serial, serial);
}

std::vector<float> tones(std::initializer_list<double> hz, double seconds) {
    std::vector<float> x(size_t(seconds * fs));
    for (size_t i = 0; i < x.size(); ++i) {
        for (double f : hz) {
            x[i] += float(0.2 * std::sin(2.0 * std::numbers::pi * f * double(i) / fs));
        }
    }
    return x;
}

// A voice that hardly changes its pitch: 120 Hz pulses in syllables of a quarter second, F0
// swinging by `vibrato_hz` 5.5 times a second.
std::vector<float> monotone(double seconds, double vibrato_hz) {
    std::vector<float> x(size_t(seconds * fs));
    double phase = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        double t = double(i) / fs, v = 0.0;
        phase += 2.0 * std::numbers::pi *
                 (120.0 + vibrato_hz * std::sin(2.0 * std::numbers::pi * 5.5 * t)) / fs;
        for (int k = 1; k * 120 < 3500; ++k) {
            v += std::sin(k * phase) / k;
        }
        x[i] = float(0.2 * v * std::sin(std::numbers::pi * std::fmod(t, 0.25) / 0.25));
    }
    return x;
}

// What is not speech never gives a reading at any time: a data modem, noise, a tone, the
// two-tone, silence, speech clipped hard; nor does a voice whose pitch barely moves, which leaves
// the aliases df + m F0 open.
TEST(VoiceRefusals, NoReadingFromWhatIsNotSpeech) {
    std::mt19937 rng(3);
    std::normal_distribution<float> gauss(0.0f, 0.1f);
    std::vector<float> noise(size_t(10 * fs));
    for (float& v : noise) {
        v = gauss(rng);
    }
    struct Refusal {
        const char* name;
        std::vector<float> audio;
        bool through_receiver;
    };
    std::vector<Refusal> cases = {{"noise", noise, false},
                                  {"1 kHz", tones({1000.0}, 10.0), true},
                                  {"two-tone", tones({1000.0, 2000.0}, 10.0), true},
                                  {"silence", std::vector<float>(size_t(10 * fs)), false},
                                  {"monotone", monotone(15.0, 0.0), true},
                                  {"vibrato", monotone(15.0, 3.0), true}};
    if (have_corpus()) {
        cases.push_back({"modem", speech("vk2tpm_004", 10.0), true});
        std::vector<float> clipped = speech("hts1a", 10.0);
        for (float& v : clipped) {
            v = std::clamp(30.0f * v, -1.0f, 1.0f);
        }
        cases.push_back({"clipped", clipped, false});
    }
    for (const Refusal& c : cases) {
        voice_channel::Settings s;
        s.df_hz = 37.0;
        dsp::VoiceEstimator est;
        EXPECT_EQ(feed(est, c.through_receiver ? voice_channel::receive(c.audio, s) : c.audio), 0)
            << c.name;
        EXPECT_NE(est.reading().state, dsp::VoiceState::reading) << c.name;
        if (std::string(c.name) == "vibrato") {
            // F0 moves, but by +-3 Hz only: df and df +- F0 stay open, all named.
            const dsp::VoiceReading& r = est.reading();
            ASSERT_EQ(r.state, dsp::VoiceState::ambiguous);
            ASSERT_GE(r.candidate_count, 2);
            EXPECT_NEAR(r.candidates_hz[0], 37.0, 3.0);
            EXPECT_NEAR(std::abs(r.candidates_hz[1] - 37.0), 120.0, 3.0);
        }
    }
}

} // namespace

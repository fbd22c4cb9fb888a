// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated radio path as the application meets it: two output blocks kept queued and
// refilled, capture blocks requeued on every hand-back, all on the virtual clock.
#include "test_wave_util.h"

#include "sim/path_options.h"

#include <algorithm>
#include <random>

using namespace wave_test;

namespace {

constexpr UINT header_size = sizeof(WAVEHDR);
constexpr double sample_rate = 11025.0;

using Source = std::function<uint8_t(uint64_t)>;

class Loopback : public WaveTest {
  protected:
    // Opens both devices, plays `source` (byte i of the tone) and records every captured byte.
    void begin(Source source) {
        source_ = std::move(source);
        in_ = open_in();
        out_ = open_out();
        for (auto& b : capture_) {
            b = std::make_unique<Block>(528);
            waveInPrepareHeader(in_, &b->header, header_size);
            waveInAddBuffer(in_, &b->header, header_size);
        }
        on_report() = [this](const Report& r) { react(r); };
        waveInStart(in_);
        for (auto& b : tone_) {
            b = std::make_unique<Block>(4096);
            waveOutPrepareHeader(out_, &b->header, header_size);
            refill(&b->header);
        }
    }

    void end() {
        stopping_ = true;
        waveOutReset(out_);
        waveInReset(in_);
        platform::pump_for(10'000);
        EXPECT_EQ(waveOutClose(out_), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInClose(in_), MMSYSERR_NOERROR);
        platform::pump_for(10'000);
        on_report() = nullptr;
    }

    void react(const Report& r) {
        WAVEHDR* h = r.header();
        if (r.msg == MM_WOM_DONE && !stopping_)
            refill(h);
        if (r.msg == MM_WIM_DATA) {
            captured.insert(captured.end(), h->lpData, h->lpData + h->dwBytesRecorded);
            if (!stopping_)
                waveInAddBuffer(in_, h, header_size);
        }
    }

    void refill(WAVEHDR* h) {
        for (DWORD i = 0; i < h->dwBufferLength; ++i)
            h->lpData[i] = char(source_(written_++));
        last_write_ = waveOutWrite(out_, h, header_size);
    }

    // Where `needle` (a stretch of what was played) first shows up in the capture.
    size_t find_in_capture(const std::vector<uint8_t>& needle) const {
        auto it = std::search(captured.begin(), captured.end(), needle.begin(), needle.end());
        return size_t(it - captured.begin());
    }

    std::vector<uint8_t> captured;
    HWAVEOUT out_ = nullptr;
    HWAVEIN in_ = nullptr;
    Source source_;
    uint64_t written_ = 0;
    MMRESULT last_write_ = MMSYSERR_NOERROR;
    bool stopping_ = false;
    std::unique_ptr<Block> tone_[2];
    std::unique_ptr<Block> capture_[4];
};

uint8_t noise_byte(uint64_t i) {
    static std::vector<uint8_t> table = [] {
        std::mt19937 rng(7);
        std::vector<uint8_t> t(1 << 16);
        for (auto& b : t)
            b = uint8_t(rng() % 256);
        return t;
    }();
    return table[i % table.size()];
}

Source two_tone(double amplitude) {
    return [amplitude](uint64_t i) {
        double t = 2.0 * std::numbers::pi * 1000.0 * double(i) / sample_rate;
        return uint8_t(std::lround(128.0 + amplitude * (std::sin(t) + std::sin(2.0 * t))));
    };
}

// The phase of `hz` in each 441-sample block (whole cycles of both test tones), unwrapped.
std::vector<double> block_phases(const std::vector<uint8_t>& x, size_t from, size_t blocks,
                                 double hz) {
    std::vector<double> phases;
    for (size_t b = 0; b < blocks; ++b) {
        std::complex<double> acc;
        for (size_t i = 0; i < 441; ++i)
            acc += (double(x[from + 441 * b + i]) - 128.0) *
                   std::polar(1.0, -2.0 * std::numbers::pi * hz * double(i) / sample_rate);
        double p = std::arg(acc);
        if (!phases.empty())
            p +=
                2.0 * std::numbers::pi * std::round((phases.back() - p) / (2.0 * std::numbers::pi));
        phases.push_back(p);
    }
    return phases;
}

// The strongest frequency between lo and hi, to within `step`.
double peak_frequency(const std::vector<uint8_t>& x, size_t from, size_t n, double lo, double hi,
                      double step) {
    double best = lo, best_amp = -1.0;
    for (double f = lo; f <= hi; f += step) {
        double a = amplitude_at(x, from, n, f);
        if (a > best_amp)
            best_amp = a, best = f;
    }
    return best;
}

TEST_F(Loopback, AtZeroOffsetTheInputReturnsThePlayedBytesExactly) {
    begin(noise_byte);
    platform::pump_for(3'000'000);
    end();

    const auto& played = path->played();
    ASSERT_GE(played.size(), 3 * 11025u - 200);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], noise_byte(i)) << i;

    std::vector<uint8_t> head(played.begin(), played.begin() + 64);
    size_t at = find_in_capture(head);
    ASSERT_LT(at, captured.size()) << "the played bytes never came back";
    size_t n = std::min(played.size(), captured.size() - at);
    ASSERT_GE(n, 2 * 11025u);
    EXPECT_TRUE(std::equal(played.begin(), played.begin() + long(n), captured.begin() + long(at)));
    EXPECT_EQ(path->underrun_bytes(), 0u) << "two queued blocks leave no gap";

    // A delay moves the same bytes later by exactly that many samples.
    captured.clear();
    written_ = 0;
    stopping_ = false;
    path->set_delay_ms(250.0);
    begin(noise_byte);
    platform::pump_for(2'000'000);
    end();
    size_t delayed = find_in_capture(head);
    ASSERT_LT(delayed, captured.size());
    EXPECT_EQ(delayed - at, 2756u);
    EXPECT_EQ(captured[delayed + 11025], noise_byte(11025));
}

TEST_F(Loopback, AnOffsetMovesEveryComponentByDfAsSsbDoes) {
    for (double df : {3.0, -2.0}) {
        SCOPED_TRACE(df);
        captured.clear();
        written_ = 0;
        stopping_ = false;
        path->set_df(df);
        begin(two_tone(50.0));
        platform::pump_for(3'000'000);
        end();
        ASSERT_GE(captured.size(), size_t(2.5 * sample_rate));
        const size_t from = 5000, n = 2 * 11025; // a 2 s window, 0.5 Hz bins

        EXPECT_NEAR(peak_frequency(captured, from, n, 990.0, 1010.0, 0.02), 1000.0 + df, 0.03);
        EXPECT_NEAR(peak_frequency(captured, from, n, 1990.0, 2010.0, 0.02), 2000.0 + df, 0.03);
        EXPECT_NEAR(amplitude_at(captured, from, n, 1000.0 + df), 50.0, 1.0);
        EXPECT_NEAR(amplitude_at(captured, from, n, 2000.0 + df), 50.0, 1.0);
        // Single sideband: no carrier left and no mirror image below it.
        EXPECT_LT(amplitude_at(captured, from, n, 1000.0), 0.5);
        EXPECT_LT(amplitude_at(captured, from, n, 1000.0 - df), 0.5);
        EXPECT_LT(amplitude_at(captured, from, n, 2000.0 - df), 0.5);
    }
}

// The other station speaks its recording, looped, while nothing is played; a 16-bit input takes
// it to a 256th of an 8-bit step, little-endian.
TEST_F(Loopback, TheOtherStationSpeaksItsRecordingLooped) {
    std::vector<double> voice(1000);
    for (size_t i = 0; i < voice.size(); ++i)
        voice[i] = 90.0 * std::sin(0.05 * double(i)) + 0.3;
    path->set_station_voice(voice);
    path->set_station(true);
    HWAVEIN in = open_in(conformance::capture_format_16());
    Block block(2 * 3000);
    waveInPrepareHeader(in, &block.header, header_size);
    waveInAddBuffer(in, &block.header, header_size);
    waveInStart(in);
    ASSERT_TRUE(wait_for(MM_WIM_DATA, 1));
    const size_t d = radio_path::Link::group_delay;
    for (size_t i = d; i < 3000; ++i)
        ASSERT_EQ(int16_t(block.bytes[2 * i] | block.bytes[2 * i + 1] << 8),
                  std::lround(256.0 * voice[(i - d) % voice.size()]))
            << i;
}

TEST_F(Loopback, GainScalesAndNoiseAddsItsRms) {
    path->set_gain(0.5);
    begin(two_tone(50.0));
    platform::pump_for(1'500'000);
    end();
    EXPECT_NEAR(amplitude_at(captured, 2000, 11025, 1000.0), 25.0, 0.5);

    // Noise on a silent path, deterministic for a seed.
    captured.clear();
    written_ = 0;
    stopping_ = false;
    path->set_gain(1.0);
    path->set_noise(4.0, 11);
    begin([](uint64_t) { return uint8_t(128); });
    platform::pump_for(2'000'000);
    end();
    ASSERT_GT(captured.size(), 20'000u);
    double sum = 0, sq = 0;
    for (uint8_t b : captured)
        sum += b - 128.0, sq += (b - 128.0) * (b - 128.0);
    double mean = sum / double(captured.size());
    EXPECT_NEAR(mean, 0.0, 0.15);
    EXPECT_NEAR(std::sqrt(sq / double(captured.size())), 4.0, 0.2);
}

TEST_F(Loopback, TimeRunsAtTheNominalRate) {
    begin(two_tone(40.0));
    platform::pump_for(1'000'000);
    size_t played_1s = path->played().size();
    uint64_t delivered_1s = path->delivered_bytes();
    size_t done_1s = count(MM_WOM_DONE);
    platform::pump_for(10'000'000);
    size_t played = path->played().size() - played_1s;
    uint64_t delivered = path->delivered_bytes() - delivered_1s;
    size_t done = count(MM_WOM_DONE) - done_1s;
    end();

    // Ten seconds consume 110250 bytes, give or take one 10 ms tick at each end.
    EXPECT_NEAR(double(played), 10 * sample_rate, 2 * 111.0);
    EXPECT_NEAR(double(delivered), 10 * sample_rate, 2 * 111.0);
    EXPECT_NEAR(double(done), 10 * sample_rate / 4096, 1.0);
    EXPECT_EQ(path->underrun_bytes(), 0u);
}

TEST_F(Loopback, ADyingDeviceHandsBackItsHeadersRefusesWritesAndRecordsSilence) {
    begin(two_tone(40.0));
    platform::pump_for(1'000'000);
    const int64_t death = platform::now_us() + 500'000;
    path->die_at(death);
    platform::pump_for(600'000);
    ASSERT_TRUE(path->dead());

    // Everything queued at that moment comes back at once.
    size_t out_back = 0, in_back = 0;
    for (const Report& r : reports()) {
        if (r.at_us != death)
            continue;
        out_back += r.msg == MM_WOM_DONE;
        in_back += r.msg == MM_WIM_DATA;
    }
    EXPECT_EQ(out_back, 2u);
    EXPECT_EQ(in_back, 4u);

    // The headers handed back were written again, and refused: the output is gone. Capture
    // carries on at the nominal rate.
    EXPECT_EQ(last_write_, MMSYSERR_NODRIVER);
    size_t done_before = count(MM_WOM_DONE);
    size_t captured_before = captured.size();
    platform::pump_for(4'000'000);
    EXPECT_EQ(count(MM_WOM_DONE), done_before);
    double recorded = double(captured.size() - captured_before);
    EXPECT_NEAR(recorded, 4 * sample_rate, 4 * 528.0);
    EXPECT_TRUE(std::all_of(captured.end() - 5000, captured.end(), [](uint8_t b) {
        return b == 128;
    })) << "a dead input records silence";

    // Stop and close still work, and the dead host offers no device any more.
    stopping_ = true;
    EXPECT_EQ(waveOutReset(out_), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInReset(in_), MMSYSERR_NOERROR);
    platform::pump_for(10'000);
    EXPECT_EQ(waveOutClose(out_), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in_), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for(MM_WIM_CLOSE, 1));
    ASSERT_TRUE(wait_for(MM_WOM_CLOSE, 1));
    WAVEFORMATEX f = stream_format();
    HWAVEOUT again = nullptr;
    EXPECT_EQ(waveOutOpen(&again, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(platform::wave::open_device_count(), 0);
}

TEST_F(Loopback, AFastInputClockTakesMoreSamplesAndLowersEveryToneByThePpm) {
    for (double ppm : {300.0, -300.0}) {
        SCOPED_TRACE(ppm);
        captured.clear();
        written_ = 0;
        stopping_ = false;
        radio_path::PathOptions options;
        options.link.clock_ppm = ppm;
        radio_path::apply(*path, options);
        begin(two_tone(50.0));
        platform::pump_for(500'000);
        size_t played_before = path->played().size();
        uint64_t delivered_before = path->delivered_bytes();
        platform::pump_for(4'000'000);
        double played = double(path->played().size() - played_before);
        double delivered = double(path->delivered_bytes() - delivered_before);
        end();
        // On the same ticks, but with the input's count of samples, never piling up.
        EXPECT_NEAR(delivered, played * (1.0 + ppm * 1e-6), 1.0);

        // On the input's clock a tone f comes back at f / (1 + ppm*1e-6), by its phase slope;
        // the phase runs smoothly, with no step where the resampler moves to a new sample.
        for (double hz : {1000.0, 2000.0}) {
            std::vector<double> ph = block_phases(captured, 6000, 80, hz);
            const double block_s = 441.0 / sample_rate, span = block_s * double(ph.size() - 1);
            double slope = (ph.back() - ph.front()) / span;
            EXPECT_NEAR(hz + slope / (2.0 * std::numbers::pi), hz / (1.0 + ppm * 1e-6), 1e-3);
            double worst = 0.0;
            for (size_t b = 0; b < ph.size(); ++b)
                worst = std::max(worst, std::abs(ph[b] - ph[0] - slope * block_s * double(b)));
            EXPECT_LT(worst, 3e-3) << "8-bit rounding alone leaves up to about 2 mrad";
        }
    }
}

// The link alone: `seconds` of `source` through it, from rest.
std::vector<uint8_t> through(const radio_path::LinkSettings& settings, const Source& source,
                             double seconds) {
    std::vector<uint8_t> played(size_t(seconds * sample_rate)), captured;
    for (size_t i = 0; i < played.size(); ++i)
        played[i] = source(i);
    radio_path::Link link(settings);
    for (size_t i = 0; i < played.size(); i += 110)
        link.process(&played[i], std::min<size_t>(110, played.size() - i), captured);
    return captured;
}

Source tone(double hz, double amplitude) {
    return [hz, amplitude](uint64_t i) {
        double t = 2.0 * std::numbers::pi * hz * double(i) / sample_rate;
        return uint8_t(std::lround(128.0 + amplitude * std::sin(t)));
    };
}

TEST(Link, TheBandLimitPassesThreeHundredToTwentySevenHundredHertz) {
    struct {
        double hz, low_db, high_db;
    } const cases[] = {
        {100.0, -99.0, -30.0}, {300.0, -3.2, -2.8},  {1000.0, -0.05, 0.05},
        {2000.0, -0.05, 0.05}, {2700.0, -3.2, -2.8}, {3500.0, -99.0, -30.0},
    };
    radio_path::LinkSettings settings;
    settings.band_limit = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        std::vector<uint8_t> out = through(settings, tone(c.hz, 100.0), 1.5);
        double db = 20.0 * std::log10(amplitude_at(out, 4000, 11025, c.hz) / 100.0);
        EXPECT_GE(db, c.low_db);
        EXPECT_LE(db, c.high_db);
    }
}

TEST(Link, ResamplingOntoAnotherClockKeepsTheToneToAMillionthOfItsAmplitude) {
    for (double ppm : {300.0, -1000.0}) {
        SCOPED_TRACE(ppm);
        radio_path::ClockResampler r;
        r.set_ppm(ppm);
        r.restart();
        const double w = 2.0 * std::numbers::pi * 2000.0 / sample_rate;
        const long double step = 1.0L / (1.0L + (long double)ppm * 1e-6L);
        double worst = 0.0, y = 0.0;
        int64_t k = 0;
        for (int64_t i = 0; i < 120 * 11025; ++i) {
            r.push(std::sin(w * double(i)));
            for (; r.next(y); ++k) {
                long double at = (long double)k * step - radio_path::ClockResampler::delay;
                if (k > 100)
                    worst = std::max(worst, std::abs(y - double(std::sin(w * at))));
            }
        }
        EXPECT_GT(k, 120 * 11025 * (1.0 + ppm * 1e-6) - 20);
        EXPECT_LT(worst, 2e-6) << "phase error at 2000 Hz under 2 microradians";
    }
}

TEST(Link, AfterALoudBurstTheAgcGainFallsAtOnceAndRecoversSlowly) {
    radio_path::LinkSettings settings;
    settings.agc = true;
    // 3 s at amplitude 20, 0.2 s at 100, then 20 again.
    Source quiet = tone(1000.0, 20.0), loud = tone(1000.0, 100.0);
    std::vector<uint8_t> out = through(
        settings, [&](uint64_t i) { return i >= 33075 && i < 35280 ? loud(i) : quiet(i); }, 8.0);
    auto level_at = [&](double s) { return amplitude_at(out, size_t(s * sample_rate), 441, 1000); };
    EXPECT_NEAR(level_at(2.9), radio_path::Link::agc_target, 2.0) << "the quiet tone held";
    EXPECT_NEAR(level_at(3.1), radio_path::Link::agc_target, 2.0) << "the burst held too";
    EXPECT_LT(level_at(3.25), 25.0) << "the quiet tone just after the burst";
    double a = level_at(3.5), b = level_at(4.0), c = level_at(4.5);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, 90.0);
    EXPECT_NEAR(level_at(7.5), radio_path::Link::agc_target, 2.0);
}

TEST(Link, GainClipsAtTheEightBitScaleWithoutWrapping) {
    radio_path::LinkSettings settings;
    settings.gain = 3.0;
    Source source = two_tone(60.0);
    std::vector<uint8_t> out = through(settings, source, 0.5);
    const size_t d = radio_path::Link::group_delay;
    size_t clipped = 0;
    for (size_t i = 0; i + d < out.size(); ++i) {
        long want = std::lround(3.0 * (double(source(i)) - 128.0)) + 128;
        ASSERT_EQ(out[i + d], std::clamp(want, 0L, 255L)) << i;
        clipped += want < 0 || want > 255;
    }
    EXPECT_GT(clipped, 1000u);
}

TEST(PathOptions, ParsesEachOptionAndNamesWhatIsWrong) {
    using radio_path::PathOptions;
    struct {
        std::vector<const char*> args;
        int result;
        int next;          // where argv's index is left
        const char* error; // when the result is -1
        bool (*check)(const PathOptions&);
    } const cases[] = {
        {{"--df", "3.5"}, 1, 1, "", [](const PathOptions& o) { return o.link.df_hz == 3.5; }},
        {{"--df=-2"}, 1, 0, "", [](const PathOptions& o) { return o.link.df_hz == -2.0; }},
        {{"--noise", "4"}, 1, 1, "", [](const PathOptions& o) { return o.link.noise_rms == 4.0; }},
        {{"--delay=250"}, 1, 0, "", [](const PathOptions& o) { return o.delay_ms == 250.0; }},
        {{"--gain", "2.5"}, 1, 1, "", [](const PathOptions& o) { return o.link.gain == 2.5; }},
        {{"--ppm", "-300"},
         1,
         1,
         "",
         [](const PathOptions& o) { return o.link.clock_ppm == -300.0; }},
        {{"--band-limit"}, 1, 0, "", [](const PathOptions& o) { return o.link.band_limit; }},
        {{"--agc", "--df"}, 1, 0, "", [](const PathOptions& o) { return o.link.agc; }},
        {{"--noise"}, -1, 0, "missing value for --noise", nullptr},
        {{"--df", "abc"}, -1, 1, "bad value 'abc' for --df", nullptr},
        {{"--df="}, -1, 0, "bad value '' for --df", nullptr},
        {{"--df", "101"}, -1, 1, "bad value '101' for --df", nullptr},
        {{"--ppm=1e9"}, -1, 0, "bad value '1e9' for --ppm", nullptr},
        {{"--noise", "nan"}, -1, 1, "bad value 'nan' for --noise", nullptr},
        {{"--agc=yes"}, -1, 0, "bad value 'yes' for --agc", nullptr},
        {{"--help"}, 0, 0, "", nullptr},
        {{"--colour=red"}, 0, 0, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<char*> argv{const_cast<char*>("prog")};
        for (const char* a : c.args)
            argv.push_back(const_cast<char*>(a));
        PathOptions o;
        std::string error;
        int i = 1;
        EXPECT_EQ(radio_path::parse_path_option(int(argv.size()), argv.data(), i, o, error),
                  c.result);
        EXPECT_EQ(i, 1 + c.next);
        EXPECT_EQ(error, c.error);
        if (c.check) {
            EXPECT_TRUE(c.check(o));
        }
    }
}

} // namespace

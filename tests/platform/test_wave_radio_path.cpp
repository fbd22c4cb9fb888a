// The simulated radio path as the application meets it: two output blocks kept queued and
// refilled, capture blocks requeued on every hand-back, all on the virtual clock.
#include "test_wave_util.h"

#include <algorithm>
#include <random>

using namespace wave_test;

namespace {

constexpr UINT kHdr = sizeof(WAVEHDR);
constexpr double kRate = 11025.0;

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
            waveInPrepareHeader(in_, &b->header, kHdr);
            waveInAddBuffer(in_, &b->header, kHdr);
        }
        on_report() = [this](const Report& r) { react(r); };
        waveInStart(in_);
        for (auto& b : tone_) {
            b = std::make_unique<Block>(4096);
            waveOutPrepareHeader(out_, &b->header, kHdr);
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
                waveInAddBuffer(in_, h, kHdr);
        }
    }

    void refill(WAVEHDR* h) {
        for (DWORD i = 0; i < h->dwBufferLength; ++i)
            h->lpData[i] = char(source_(written_++));
        last_write_ = waveOutWrite(out_, h, kHdr);
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
        double t = 2.0 * std::numbers::pi * 1000.0 * double(i) / kRate;
        return uint8_t(std::lround(128.0 + amplitude * (std::sin(t) + std::sin(2.0 * t))));
    };
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
        ASSERT_GE(captured.size(), size_t(2.5 * kRate));
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
    EXPECT_NEAR(double(played), 10 * kRate, 2 * 111.0);
    EXPECT_NEAR(double(delivered), 10 * kRate, 2 * 111.0);
    EXPECT_NEAR(double(done), 10 * kRate / 4096, 1.0);
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
    EXPECT_NEAR(recorded, 4 * kRate, 4 * 528.0);
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

} // namespace

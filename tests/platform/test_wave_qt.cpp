// The Qt Multimedia backend. With no sound server it must fail cleanly; with a loopback
// server (a null sink whose monitor is the default input) the tone must come back.
#include "test_wave_util.h"

#include <QAudioDevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstdio>

using namespace wave_test;

namespace {

constexpr UINT kHdr = sizeof(WAVEHDR);

class QtWave : public WaveTest {
  protected:
    void SetUp() override {
        WaveTest::SetUp();
        platform::use_virtual_clock(false);
        platform::wave::set_backend(platform::wave::make_qt_backend());
    }
    // The default input hears the default output: a (remapped) monitor source.
    static bool have_loopback() {
        QAudioDevice in = QMediaDevices::defaultAudioInput();
        return !QMediaDevices::defaultAudioOutput().isNull() && !in.isNull() &&
               in.description().contains("Monitor");
    }
};

TEST_F(QtWave, WithoutDevicesOpeningFailsAtOnceAndPostsNothing) {
    if (!QMediaDevices::defaultAudioOutput().isNull())
        GTEST_SKIP() << "a sound server is reachable";
    WAVEFORMATEX f = stream_format();
    auto cb = reinterpret_cast<DWORD_PTR>(window);
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    int64_t t0 = platform::now_us();
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_LT(platform::now_us() - t0, 2'000'000);
    platform::pump_for(100'000);
    EXPECT_TRUE(reports().empty());
}

// Captured bytes with the time each block came back, in small blocks for a fine time scale.
struct Timeline {
    std::vector<uint8_t> bytes;
    std::vector<int64_t> at; // per byte: when its block was handed back
    // When the level (over 64-byte stretches) first crosses `above` (or falls under it) after
    // `from_us`; -1 if never.
    int64_t first_time(int64_t from_us, bool loud) const {
        for (size_t i = 0; i + 64 <= bytes.size(); i += 64) {
            if (at[i] < from_us)
                continue;
            int peak = 0;
            for (size_t k = i; k < i + 64; ++k)
                peak = std::max(peak, std::abs(bytes[k] - 128));
            if ((peak > 20) == loud)
                return at[i];
        }
        return -1;
    }
};

TEST_F(QtWave, OnALoopbackServerTheToneComesBackAndStopsPromptly) {
    if (!have_loopback())
        GTEST_SKIP() << "no loopback sound server";
    HWAVEOUT out = open_out();
    HWAVEIN in = open_in();
    ASSERT_TRUE(out && in);

    Timeline heard;
    std::vector<std::unique_ptr<Block>> cap;
    for (int i = 0; i < 16; ++i) {
        cap.push_back(std::make_unique<Block>(64));
        waveInPrepareHeader(in, &cap.back()->header, kHdr);
        waveInAddBuffer(in, &cap.back()->header, kHdr);
    }
    std::vector<uint8_t> played;
    auto refill = [&](WAVEHDR* h) {
        for (DWORD i = 0; i < h->dwBufferLength; ++i) {
            double t = 2.0 * std::numbers::pi * 1000.0 * double(played.size()) / 11025.0;
            played.push_back(uint8_t(std::lround(128.0 + 50.0 * (std::sin(t) + std::sin(2 * t)))));
            h->lpData[i] = char(played.back());
        }
        waveOutWrite(out, h, kHdr);
    };
    bool stopping = false;
    on_report() = [&](const Report& r) {
        WAVEHDR* h = r.header();
        if (r.msg == MM_WOM_DONE && !stopping)
            refill(h);
        if (r.msg == MM_WIM_DATA) {
            heard.bytes.insert(heard.bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
            heard.at.insert(heard.at.end(), h->dwBytesRecorded, r.at_us);
            if (!stopping)
                waveInAddBuffer(in, h, kHdr);
        }
    };
    waveInStart(in);
    platform::pump_for(300'000);
    Block a(4096), b(4096);
    waveOutPrepareHeader(out, &a.header, kHdr);
    waveOutPrepareHeader(out, &b.header, kHdr);
    const int64_t on = platform::now_us();
    refill(&a.header);
    refill(&b.header);
    platform::pump_for(2'000'000);
    const int64_t off = platform::now_us();
    stopping = true;
    waveOutReset(out);
    platform::pump_for(500'000);
    waveInReset(in);
    platform::pump_for(50'000);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);

    int64_t onset = heard.first_time(on, true);
    int64_t silence = heard.first_time(off, false);
    ASSERT_GE(onset, 0) << "the tone never came back";
    ASSERT_GE(silence, 0) << "the tone did not stop";
    std::printf("[ measured ] tone back after %.1f ms; silent %.1f ms after the reset\n",
                double(onset - on) / 1000, double(silence - off) / 1000);
    // The reset's own share: what the loopback takes on top of the way in.
    EXPECT_LT((silence - off) - (onset - on), 50'000);

    // A second into the tone both components are there at the level written.
    size_t from = 0;
    while (from < heard.at.size() && heard.at[from] < on + 800'000)
        ++from;
    ASSERT_GE(heard.bytes.size(), from + 11025);
    EXPECT_NEAR(amplitude_at(heard.bytes, from, 11025, 1000.0), 50.0, 3.0);
    EXPECT_NEAR(amplitude_at(heard.bytes, from, 11025, 2000.0), 50.0, 3.0);

    // With the server in the stream format nothing is resampled: the bytes come back as
    // written, without a gap, a repeat or a loss, as long as two blocks stay queued.
    auto at =
        std::search(heard.bytes.begin(), heard.bytes.end(), played.begin(), played.begin() + 64);
    ASSERT_NE(at, heard.bytes.end()) << "the written bytes are not in the capture as such";
    size_t same = 0;
    while (at + long(same) != heard.bytes.end() && same < played.size() &&
           at[long(same)] == played[same])
        ++same;
    EXPECT_GE(same, 11025u * 3 / 2) << "first difference after " << same << " bytes";
}

} // namespace

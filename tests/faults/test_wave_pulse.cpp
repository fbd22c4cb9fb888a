// SPDX-License-Identifier: GPL-3.0-or-later
// The libpulse backend on a private sound server that with_pulse.sh starts: a loopback (a null
// sink whose monitor is the default input), a server with no devices, or none at all.
#include "../platform/test_wave_util.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace wave_test;

namespace {

constexpr UINT header_size = sizeof(WAVEHDR);
constexpr int64_t block_us = 4096 * 1'000'000LL / 11025; // one output block's playing time

// What with_pulse.sh set up: "loopback", "empty" (a server without devices) or "none".
std::string sound_server() {
    const char* kind = std::getenv("TAVRENE_SOUND_SERVER");
    return kind ? kind : "";
}

class PulseWave : public WaveTest {
  protected:
    void SetUp() override {
        WaveTest::SetUp();
        platform::use_virtual_clock(false);
        platform::wave::set_backend(platform::wave::make_pulse_backend());
    }
};

// Opening waits for the server's answer, never longer than 2 s, and reports no device as such.
TEST_F(PulseWave, WithoutAServerOrADeviceOpeningFailsAndPostsNothing) {
    if (sound_server() != "none" && sound_server() != "empty")
        GTEST_SKIP() << "run through with_pulse.sh none or empty";
    WAVEFORMATEX f = stream_format();
    auto cb = reinterpret_cast<DWORD_PTR>(window);
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    const int64_t t0 = platform::now_us();
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    const int64_t took = platform::now_us() - t0;
    std::printf("[ measured ] two failed opens took %.1f ms\n", double(took) / 1000);
    EXPECT_LT(took, 2'000'000);
    platform::pump_for(100'000);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(platform::wave::open_device_count(), 0);
}

// Fills a block with the next bytes of a two-tone, kept in `played`, and queues it.
void write_tone(HWAVEOUT out, WAVEHDR* h, std::vector<uint8_t>& played) {
    for (DWORD i = 0; i < h->dwBufferLength; ++i) {
        double t = 2.0 * std::numbers::pi * 1000.0 * double(played.size()) / 11025.0;
        played.push_back(uint8_t(std::lround(128.0 + 50.0 * (std::sin(t) + std::sin(2 * t)))));
        h->lpData[i] = char(played.back());
    }
    waveOutWrite(out, h, header_size);
}

// Output reset first, then the input once the last captures are in; both must close.
void reset_and_close(HWAVEOUT out, HWAVEIN in) {
    waveOutReset(out);
    platform::pump_for(500'000);
    waveInReset(in);
    platform::pump_for(50'000);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    on_report() = nullptr;
}

// Captured bytes with the time each block came back.
struct Timeline {
    std::vector<uint8_t> bytes;
    std::vector<int64_t> at; // per byte: when its block was handed back
    // When the level (over 64-byte stretches) is first loud (or quiet) after `from_us`; -1 if
    // never.
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

// Two 4096-byte blocks kept queued and refilled on each hand-back, as the application does,
// with the user-interface thread stalling before each refill. Both blocks go to the server at
// once, so a stall shorter than one block's playing time leaves no gap; each block comes back
// when the server has played it, not when it was handed over; a reset silences at once.
TEST_F(PulseWave, OnALoopbackEveryBlockPlaysWholeAndComesBackWhenPlayed) {
    if (sound_server() != "loopback")
        GTEST_SKIP() << "run through with_pulse.sh pulse";
    for (int stall_ms : {0, 250}) {
        SCOPED_TRACE("user-interface stall of " + std::to_string(stall_ms) + " ms per refill");
        reports().clear();
        HWAVEOUT out = open_out();
        HWAVEIN in = open_in();
        ASSERT_TRUE(out && in);

        // Fine blocks for a fine time scale; coarse ones when a stall must not overrun them.
        const size_t capture_bytes = stall_ms ? 512 : 64;
        Timeline heard;
        std::vector<std::unique_ptr<Block>> cap;
        for (int i = 0; i < 16; ++i) {
            cap.push_back(std::make_unique<Block>(capture_bytes));
            waveInPrepareHeader(in, &cap.back()->header, header_size);
            waveInAddBuffer(in, &cap.back()->header, header_size);
        }
        std::vector<uint8_t> played;
        auto refill = [&](WAVEHDR* h) { write_tone(out, h, played); };
        bool stopping = false;
        std::vector<int64_t> done_at;
        on_report() = [&](const Report& r) {
            WAVEHDR* h = r.header();
            if (r.msg == MM_WOM_DONE && !stopping) {
                done_at.push_back(r.at_us);
                std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
                refill(h);
            }
            if (r.msg == MM_WIM_DATA) {
                heard.bytes.insert(heard.bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
                heard.at.insert(heard.at.end(), h->dwBytesRecorded, r.at_us);
                if (!stopping)
                    waveInAddBuffer(in, h, header_size);
            }
        };
        waveInStart(in);
        platform::pump_for(300'000);
        Block a(4096), b(4096);
        waveOutPrepareHeader(out, &a.header, header_size);
        waveOutPrepareHeader(out, &b.header, header_size);
        const int64_t on = platform::now_us();
        refill(&a.header);
        refill(&b.header);
        platform::pump_for(2'500'000);
        const int64_t off = platform::now_us();
        stopping = true;
        reset_and_close(out, in);

        // Block k has played no earlier than k block times after the start (a few ms of slack
        // for the two clocks), and the first is reported within a bounded time of that.
        ASSERT_GE(done_at.size(), 5u);
        for (size_t k = 0; k < done_at.size(); ++k)
            EXPECT_GE(done_at[k] - on, int64_t(k + 1) * block_us - 10'000) << "block " << k;
        std::printf("[ measured ] stall %d ms: first block back %.1f ms after the write\n",
                    stall_ms, double(done_at[0] - on) / 1000);
        EXPECT_LT(done_at[0] - on, block_us + 200'000);

        const int64_t onset = heard.first_time(on, true);
        const int64_t silence = heard.first_time(off, false);
        ASSERT_GE(onset, 0) << "the tone never came back";
        ASSERT_GE(silence, 0) << "the tone did not stop";
        std::printf("[ measured ] tone back after %.1f ms; silent %.1f ms after the reset\n",
                    double(onset - on) / 1000, double(silence - off) / 1000);
        if (stall_ms == 0) {
            // The reset's own share: what the loopback takes on top of the way in.
            EXPECT_LT((silence - off) - (onset - on), 50'000);
        }

        // The server runs in the stream format: the bytes come back as written, without a gap,
        // a repeat or a loss, for as long as the tone played.
        auto at = std::search(heard.bytes.begin(), heard.bytes.end(), played.begin(),
                              played.begin() + 64);
        ASSERT_NE(at, heard.bytes.end()) << "the written bytes are not in the capture as such";
        size_t same = 0;
        while (at + long(same) != heard.bytes.end() && same < played.size() &&
               at[long(same)] == played[same])
            ++same;
        EXPECT_GE(same, 11025u * 2) << "first difference after " << same << " bytes";
    }
}

// Walks the capture along what was written: every written byte in order, with nothing but
// silence (an underrun's gap) between, except that up to `lost` bytes may be missing once, with
// silence in their place (a record stream that missed a period of the graph). Returns how many
// written bytes were heard so, and in `gap` the longest run of silence taken for a gap.
size_t heard_in_order(const std::vector<uint8_t>& heard, const std::vector<uint8_t>& played,
                      size_t lost, size_t& gap) {
    gap = 0;
    auto at = std::search(heard.begin(), heard.end(), played.begin(), played.begin() + 64);
    size_t i = size_t(at - heard.begin()), j = 0, run = 0;
    while (i < heard.size() && j < played.size()) {
        if (heard[i] == played[j]) {
            ++j;
            run = 0;
        } else if (heard[i] == 128) {
            gap = std::max(gap, ++run);
        } else if (run >= lost && lost > 0 && j + lost < played.size() &&
                   heard[i] == played[j + lost]) {
            j += lost + 1;
            lost = 0;
        } else {
            break;
        }
        ++i;
    }
    return j;
}

// The output underruns on purpose while the tone plays: the program stalls longer than what is
// queued, or the server is stopped for a moment. As on Windows, what was queued plays late, never
// skipped: the capture holds every block whole and in order, with at most a gap of silence, and
// every block reported played is in it.
TEST_F(PulseWave, StalledWhileTheTonePlaysNoBlockIsSkipped) {
    const char* pid_text = std::getenv("TAVRENE_PULSE_PID");
    if (sound_server() != "loopback" || pid_text == nullptr)
        GTEST_SKIP() << "run through with_pulse.sh pulse or pipewire";
    const char* period = std::getenv("TAVRENE_RECORD_PERIOD");
    // 0.9 s: the program before its third refill, or the server 1 s after the start.
    for (bool server_stops : {false, true}) {
        const char* what = server_stops ? "server stopped" : "program stalled";
        SCOPED_TRACE(what);
        reports().clear();
        HWAVEOUT out = open_out();
        HWAVEIN in = open_in();
        ASSERT_TRUE(out && in);
        // Capture headers for 6 s: a stalled program must not lose what comes back meanwhile.
        std::vector<uint8_t> heard;
        std::vector<std::unique_ptr<Block>> cap;
        for (int i = 0; i < 128; ++i) {
            cap.push_back(std::make_unique<Block>(512));
            waveInPrepareHeader(in, &cap.back()->header, header_size);
            waveInAddBuffer(in, &cap.back()->header, header_size);
        }
        std::vector<uint8_t> played;
        auto refill = [&](WAVEHDR* h) { write_tone(out, h, played); };
        bool stopping = false;
        size_t done = 0;
        on_report() = [&](const Report& r) {
            WAVEHDR* h = r.header();
            if (r.msg == MM_WOM_DONE && !stopping) {
                if (++done == 3 && !server_stops)
                    std::this_thread::sleep_for(std::chrono::milliseconds(900));
                refill(h);
            }
            if (r.msg == MM_WIM_DATA)
                heard.insert(heard.end(), h->lpData, h->lpData + h->dwBytesRecorded);
        };
        waveInStart(in);
        platform::pump_for(300'000);
        Block a(4096), b(4096);
        for (Block* k : {&a, &b}) {
            waveOutPrepareHeader(out, &k->header, header_size);
            refill(&k->header);
        }
        platform::pump_for(1'000'000);
        if (server_stops) {
            ASSERT_EQ(::kill(std::atoi(pid_text), SIGSTOP), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            ASSERT_EQ(::kill(std::atoi(pid_text), SIGCONT), 0);
        }
        platform::pump_for(3'000'000);
        stopping = true;
        const size_t reported = done * 4096;
        reset_and_close(out, in);

        size_t gap = 0;
        const size_t lost = period && server_stops ? size_t(std::atoi(period)) : 0;
        const size_t whole = heard_in_order(heard, played, lost, gap);
        std::printf("[ measured ] %s: %zu blocks reported played, %zu bytes heard in order, "
                    "longest gap %.0f ms\n",
                    what, done, whole, double(gap) * 1000 / 11025);
        EXPECT_GE(done, 8u);
        EXPECT_GE(whole, reported) << "a block reported played was not heard whole, in order";
        if (!server_stops) {
            EXPECT_GT(gap, 11025u / 5) << "the stall did not underrun the output";
        }
    }
}

} // namespace

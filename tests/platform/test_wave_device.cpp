// SPDX-License-Identifier: GPL-3.0-or-later
// Conformance of waveIn*/waveOut*: the rules a Win32 program relies on, over the simulated path.
#include "test_wave_util.h"

#include <algorithm>

using namespace wave_test;

namespace {

constexpr UINT header_size = sizeof(WAVEHDR);

class WaveDevice : public WaveTest {};

TEST_F(WaveDevice, OpenIsReportedByPostedMessageWithTheHandle) {
    HWAVEOUT out = open_out();
    HWAVEIN in = open_in();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_NE(static_cast<void*>(out), static_cast<void*>(in));
    EXPECT_TRUE(reports().empty()) << "reports are posted, not sent";

    ASSERT_TRUE(wait_for(MM_WIM_OPEN, 1));
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[0].msg, UINT(MM_WOM_OPEN));
    EXPECT_EQ(reports()[0].wparam, reinterpret_cast<WPARAM>(out));
    EXPECT_EQ(reports()[0].lparam, 0);
    EXPECT_EQ(reports()[1].msg, UINT(MM_WIM_OPEN));
    EXPECT_EQ(reports()[1].wparam, reinterpret_cast<WPARAM>(in));
}

TEST_F(WaveDevice, OpenRejectsBadArgumentsAndPostsNothing) {
    WAVEFORMATEX f = stream_format();
    auto cb = reinterpret_cast<DWORD_PTR>(window);
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, nullptr, cb, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, 7, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, cb, 0, 0x00070000), MMSYSERR_INVALFLAG);

    for (auto spoil :
         std::vector<void (*)(WAVEFORMATEX&)>{[](WAVEFORMATEX& g) { g.nChannels = 2; },
                                              [](WAVEFORMATEX& g) { g.nSamplesPerSec = 44100; },
                                              [](WAVEFORMATEX& g) { g.wBitsPerSample = 16; },
                                              [](WAVEFORMATEX& g) { g.wFormatTag = 3; },
                                              [](WAVEFORMATEX& g) { g.nBlockAlign = 2; }}) {
        WAVEFORMATEX g = stream_format();
        spoil(g);
        EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &g, cb, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
        EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &g, cb, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    }

    // 16 bits are for capture only.
    WAVEFORMATEX wide = conformance::capture_format_16();
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &wide, cb, 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    path->set_output_absent(true);
    path->set_input_absent(true);
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, cb, 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);

    platform::pump_for(500'000);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(platform::wave::open_device_count(), 0);
}

// Stricter than Wine's winmm, which takes any open handle for either family and faults on a null
// header given to waveOutWrite; the handle and header rules both share are in
// tests/conformance/wave_headers.cpp.
TEST_F(WaveDevice, HandlesOfOneFamilyAreNotHandlesOfTheOtherAndANullWriteIsRefused) {
    HWAVEOUT out = open_out();
    HWAVEIN in = open_in();
    EXPECT_EQ(waveInStart(reinterpret_cast<HWAVEIN>(out)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(reinterpret_cast<HWAVEOUT>(in)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(out, nullptr, header_size), MMSYSERR_INVALPARAM);
}

TEST_F(WaveDevice, OutputHeadersComeBackInQueueOrderWithTheirFlags) {
    HWAVEOUT out = open_out();
    Block a(700, 1), b(0), c(300, 3);
    Block* blocks[] = {&a, &b, &c};
    for (Block* k : blocks) {
        ASSERT_EQ(waveOutWrite(out, &k->header, header_size), WAVERR_UNPREPARED);
        ASSERT_EQ(waveOutPrepareHeader(out, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED));
        k->header.dwFlags |= WHDR_DONE; // left over from an earlier round
    }
    for (Block* k : blocks) {
        ASSERT_EQ(waveOutWrite(out, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_INQUEUE));
    }
    EXPECT_EQ(waveOutWrite(out, &a.header, header_size), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, header_size), WAVERR_STILLPLAYING);

    ASSERT_TRUE(wait_for(MM_WOM_DONE, 3));
    auto done = of(MM_WOM_DONE);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(done[i].header(), &blocks[i]->header);
        EXPECT_EQ(done[i].wparam, reinterpret_cast<WPARAM>(out));
        EXPECT_EQ(blocks[i]->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));
    }
    // A block is done once the device has taken its bytes, at the nominal rate.
    EXPECT_NEAR(double(done[2].at_us - reports()[0].at_us), 1000.0 * 1e6 / 11025, 20'000);

    std::vector<uint8_t> expected(1000, 3); // (an insert: a false -Warray-bounds of GCC 12 at -O3)
    std::fill_n(expected.begin(), 700, 1);
    EXPECT_EQ(path->played(), expected);

    ASSERT_EQ(waveOutUnprepareHeader(out, &a.header, header_size), MMSYSERR_NOERROR);
    EXPECT_EQ(a.header.dwFlags, DWORD(WHDR_DONE));
    EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, header_size), MMSYSERR_NOERROR);
}

TEST_F(WaveDevice, OutputResetHandsBackEveryQueuedHeaderAtOnceAndCloseWaitsForIt) {
    HWAVEOUT out = open_out();
    Block a(4096), b(4096), c(4096);
    for (Block* k : {&a, &b, &c}) {
        waveOutPrepareHeader(out, &k->header, header_size);
        waveOutWrite(out, &k->header, header_size);
    }
    platform::pump_for(100'000); // part of the first block played
    ASSERT_EQ(count(MM_WOM_DONE), 0u);

    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    for (Block* k : {&a, &b, &c})
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));
    int64_t reset_at = platform::now_us();
    ASSERT_TRUE(wait_for(MM_WOM_DONE, 3));
    auto done = of(MM_WOM_DONE);
    EXPECT_EQ(done[0].header(), &a.header);
    EXPECT_EQ(done[1].header(), &b.header);
    EXPECT_EQ(done[2].header(), &c.header);
    EXPECT_EQ(done[2].at_us, reset_at) << "handed back at once, not played out";
    size_t played = path->played().size();
    EXPECT_GT(played, 0u);
    EXPECT_LT(played, 4096u);

    // The device stays usable after a reset and plays from the start of the next block.
    Block d(50, 9);
    waveOutPrepareHeader(out, &d.header, header_size);
    waveOutWrite(out, &d.header, header_size);
    ASSERT_TRUE(wait_for(MM_WOM_DONE, 4));
    EXPECT_EQ(path->played().size(), played + 50);
    EXPECT_EQ(path->played().back(), 9);

    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR); // nothing queued: still fine
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for(MM_WOM_CLOSE, 1));
    EXPECT_EQ(of(MM_WOM_CLOSE)[0].wparam, reinterpret_cast<WPARAM>(out));
    // Closed: every later call fails and nothing more is reported.
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(out, &d.header, header_size), MMSYSERR_INVALHANDLE);
    platform::pump_for(500'000);
    EXPECT_EQ(count(MM_WOM_CLOSE), 1u);
    EXPECT_EQ(count(MM_WOM_DONE), 4u);
}

TEST_F(WaveDevice, CaptureFillsHeadersInQueueOrderOnlyAfterStart) {
    HWAVEIN in = open_in();
    Block a(528, 0xEE), b(528, 0xEE);
    for (Block* k : {&a, &b}) {
        ASSERT_EQ(waveInAddBuffer(in, &k->header, header_size), WAVERR_UNPREPARED);
        waveInPrepareHeader(in, &k->header, header_size);
        k->header.dwBytesRecorded = 77;
        ASSERT_EQ(waveInAddBuffer(in, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_INQUEUE));
        EXPECT_EQ(k->header.dwBytesRecorded, 0u);
    }
    EXPECT_EQ(waveInAddBuffer(in, &a.header, header_size), WAVERR_STILLPLAYING);
    platform::pump_for(1'000'000);
    EXPECT_EQ(count(MM_WIM_DATA), 0u) << "nothing is recorded before waveInStart";
    EXPECT_EQ(a.bytes[0], 0xEE);

    int64_t started = platform::now_us();
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for(MM_WIM_DATA, 2));
    auto data = of(MM_WIM_DATA);
    EXPECT_EQ(data[0].header(), &a.header);
    EXPECT_EQ(data[1].header(), &b.header);
    EXPECT_EQ(data[0].wparam, reinterpret_cast<WPARAM>(in));
    for (Block* k : {&a, &b}) {
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));
        EXPECT_EQ(k->header.dwBytesRecorded, 528u);
        EXPECT_EQ(k->bytes, std::vector<uint8_t>(528, 128)) << "silence on a quiet path";
    }
    EXPECT_NEAR(double(data[1].at_us - started), 1056.0 * 1e6 / 11025, 20'000);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(WaveDevice, CaptureResetHandsBackWhatEachHeaderHolds) {
    HWAVEIN in = open_in();
    Block a(528), b(528), c(528);
    for (Block* k : {&a, &b, &c}) {
        waveInPrepareHeader(in, &k->header, header_size);
        waveInAddBuffer(in, &k->header, header_size);
    }
    waveInStart(in);
    platform::pump_for(60'000); // 661 bytes: a full, b partly
    ASSERT_EQ(count(MM_WIM_DATA), 1u);
    EXPECT_EQ(waveInClose(in), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(in, &b.header, header_size), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for(MM_WIM_DATA, 3));
    auto data = of(MM_WIM_DATA);
    EXPECT_EQ(data[1].header(), &b.header);
    EXPECT_EQ(data[2].header(), &c.header);
    EXPECT_GT(b.header.dwBytesRecorded, 0u);
    EXPECT_LT(b.header.dwBytesRecorded, 528u);
    EXPECT_EQ(c.header.dwBytesRecorded, 0u);
    EXPECT_EQ(c.header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));

    // Reset also stops: a header queued now stays empty until the next start.
    waveInAddBuffer(in, &a.header, header_size);
    platform::pump_for(500'000);
    EXPECT_EQ(count(MM_WIM_DATA), 3u);
    EXPECT_EQ(a.header.dwBytesRecorded, 0u);
    waveInStart(in);
    ASSERT_TRUE(wait_for(MM_WIM_DATA, 4));

    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for(MM_WIM_CLOSE, 1));
    EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
    platform::pump_for(200'000);
    EXPECT_EQ(count(MM_WIM_CLOSE), 1u);
}

TEST_F(WaveDevice, BytesArrivingWithNoHeaderQueuedAreLost) {
    // The path plays a counting pattern; capture requeues its one block 100 ms late.
    HWAVEOUT out = open_out();
    HWAVEIN in = open_in();
    auto pattern = [](uint64_t k) { return uint8_t(k % 200 + 20); };
    std::vector<std::unique_ptr<Block>> tone;
    for (uint64_t i = 0; i < 4; ++i) {
        tone.push_back(std::make_unique<Block>(4096));
        for (uint64_t j = 0; j < 4096; ++j)
            tone.back()->bytes[j] = pattern(i * 4096 + j);
        waveOutPrepareHeader(out, &tone.back()->header, header_size);
        waveOutWrite(out, &tone.back()->header, header_size);
    }
    Block cap(528);
    waveInPrepareHeader(in, &cap.header, header_size);
    waveInAddBuffer(in, &cap.header, header_size);
    std::vector<uint8_t> first;
    uint64_t requeued_at = 0;
    on_report() = [&](const Report& r) {
        if (r.msg != MM_WIM_DATA || !first.empty())
            return;
        first = cap.bytes;
        platform::schedule_at(platform::now_us() + 100'000, [&] {
            requeued_at = path->delivered_bytes();
            waveInAddBuffer(in, &cap.header, header_size);
        });
    };
    waveInStart(in);
    ASSERT_TRUE(wait_for(MM_WIM_DATA, 2));

    // Output and capture share the path's clock: captured byte i is played byte i - latency.
    const uint64_t lat = uint64_t(path->latency());
    ASSERT_EQ(lat, uint64_t(radio_path::RadioPath::shifter_delay));
    EXPECT_EQ(first[lat - 1], 128);
    EXPECT_EQ(first[lat], pattern(0));
    EXPECT_EQ(first[527], pattern(527 - lat));
    EXPECT_GT(requeued_at, 528u + 1000u);
    EXPECT_EQ(cap.bytes[0], pattern(requeued_at - lat));
    EXPECT_EQ(cap.bytes[527], pattern(requeued_at + 527 - lat));
    waveOutReset(out);
    waveInReset(in);
}

} // namespace

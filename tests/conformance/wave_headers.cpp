// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform header rules a program relies on, against winmm as much as against platform/:
// bad handles and null headers, what preparing, queueing, resetting and closing do to the flags,
// and which calls a queued header refuses. Nothing here waits for audio to play or arrive.
#include "tests/conformance/conformance.h"
#include "tests/conformance/wave_block.h"

#include <gtest/gtest.h>

namespace {

namespace c = conformance;
using c::Block;
using c::stream_format;

constexpr UINT header_size = sizeof(WAVEHDR);

class Win32WaveHeaders : public ::testing::Test {
  protected:
    void SetUp() override { c::begin_wave_devices(); }
    void TearDown() override { c::end_wave_devices(); }

    static HWAVEOUT open_out() {
        const WAVEFORMATEX f = stream_format();
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
    static HWAVEIN open_in() {
        const WAVEFORMATEX f = stream_format();
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return h;
    }
};

TEST_F(Win32WaveHeaders, EveryCallRefusesBadHandlesAndNullHeaders) {
    auto bogus_out = reinterpret_cast<HWAVEOUT>(uintptr_t(0x1234));
    auto bogus_in = reinterpret_cast<HWAVEIN>(uintptr_t(0x1234));
    // The calls that take a header look at it before the handle: an unprepared one needs no
    // unpreparing and cannot be queued, whatever the handle.
    Block unprepared(16);
    Block prepared(16);
    for (HWAVEOUT h : {HWAVEOUT(nullptr), bogus_out}) {
        prepared.header.dwFlags = WHDR_PREPARED;
        EXPECT_EQ(waveOutPrepareHeader(h, &unprepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &unprepared.header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutUnprepareHeader(h, &prepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(h, &unprepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(h, &prepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(prepared.header.dwFlags, DWORD(WHDR_PREPARED));
    }
    for (HWAVEIN h : {HWAVEIN(nullptr), bogus_in}) {
        prepared.header.dwFlags = WHDR_PREPARED;
        EXPECT_EQ(waveInPrepareHeader(h, &unprepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInUnprepareHeader(h, &unprepared.header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInUnprepareHeader(h, &prepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInAddBuffer(h, &unprepared.header, header_size), WAVERR_UNPREPARED);
        EXPECT_EQ(waveInAddBuffer(h, &prepared.header, header_size), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInStart(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveInClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(prepared.header.dwFlags, DWORD(WHDR_PREPARED));
    }
    EXPECT_EQ(unprepared.header.dwFlags, 0u) << "a refused call leaves the header alone";

    HWAVEOUT out = open_out();
    HWAVEIN in = open_in();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(waveOutPrepareHeader(out, nullptr, header_size), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(out, &unprepared.header, header_size - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInAddBuffer(in, nullptr, header_size), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInUnprepareHeader(in, nullptr, header_size), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_F(Win32WaveHeaders, OutputFlagsThroughPrepareWriteResetAndUnprepare) {
    HWAVEOUT out = open_out();
    ASSERT_NE(out, nullptr);
    Block a(4096), b(4096);
    EXPECT_EQ(waveOutWrite(out, &a.header, header_size), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, header_size), MMSYSERR_NOERROR)
        << "unpreparing what is not prepared is no fault";
    for (Block* k : {&a, &b}) {
        ASSERT_EQ(waveOutPrepareHeader(out, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED));
        EXPECT_EQ(waveOutPrepareHeader(out, &k->header, header_size), MMSYSERR_NOERROR);
        k->header.dwFlags |= WHDR_DONE; // left over from an earlier round
    }
    for (Block* k : {&a, &b}) {
        ASSERT_EQ(waveOutWrite(out, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags & ~DWORD(WHDR_DONE), DWORD(WHDR_PREPARED | WHDR_INQUEUE));
    }
    // A queued header cannot be queued again or unprepared; preparing it again does nothing.
    EXPECT_EQ(waveOutWrite(out, &a.header, header_size), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutPrepareHeader(out, &b.header, header_size), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(out, &b.header, header_size), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    for (Block* k : {&a, &b}) {
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));
        ASSERT_EQ(waveOutUnprepareHeader(out, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_DONE));
    }
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR) << "nothing queued: still fine";
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPrepareHeader(out, &a.header, header_size), MMSYSERR_INVALHANDLE);
}

TEST_F(Win32WaveHeaders, CaptureFlagsThroughPrepareAddResetAndUnprepare) {
    HWAVEIN in = open_in();
    ASSERT_NE(in, nullptr);
    Block a(528, 0xEE), b(528, 0xEE);
    for (Block* k : {&a, &b}) {
        EXPECT_EQ(waveInAddBuffer(in, &k->header, header_size), WAVERR_UNPREPARED);
        ASSERT_EQ(waveInPrepareHeader(in, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED));
        k->header.dwFlags |= WHDR_DONE;
        k->header.dwBytesRecorded = 77;
        ASSERT_EQ(waveInAddBuffer(in, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_INQUEUE));
        EXPECT_EQ(k->header.dwBytesRecorded, 0u);
    }
    EXPECT_EQ(waveInUnprepareHeader(in, &a.header, header_size), WAVERR_STILLPLAYING);
    c::pump_for(100);
    EXPECT_EQ(a.header.dwFlags, DWORD(WHDR_PREPARED | WHDR_INQUEUE))
        << "nothing is recorded before waveInStart";
    EXPECT_EQ(a.bytes[0], 0xEE);

    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    for (Block* k : {&a, &b}) {
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_PREPARED | WHDR_DONE));
        EXPECT_EQ(k->header.dwBytesRecorded, 0u);
        ASSERT_EQ(waveInUnprepareHeader(in, &k->header, header_size), MMSYSERR_NOERROR);
        EXPECT_EQ(k->header.dwFlags, DWORD(WHDR_DONE));
    }
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
    // The meter captures 16 bits.
    const WAVEFORMATEX wide = c::capture_format_16();
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &wide, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

} // namespace

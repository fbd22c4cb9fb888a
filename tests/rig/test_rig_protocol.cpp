// SPDX-License-Identifier: GPL-3.0-or-later
// rigctld's answers as the network may bring them, and the correction they lead to.
#include "rig/protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One answer fed in pieces of `chunk` bytes.
rig::AnswerReader::Result read(const std::string& bytes, const char* command, rig::Answer& answer,
                               std::string& error, size_t chunk = 3) {
    rig::AnswerReader reader(command);
    rig::AnswerReader::Result r = rig::AnswerReader::Result::more;
    for (size_t at = 0; at < bytes.size() && r == rig::AnswerReader::Result::more; at += chunk) {
        r = reader.feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
    }
    answer = reader.answer();
    error = reader.error();
    return r;
}

TEST(RigAnswer, ReadsWhatRigctldSendsAndRefusesTheRest) {
    using R = rig::AnswerReader::Result;
    std::string many_long_lines;
    for (int i = 0; i < 100; ++i) {
        many_long_lines += std::string(1000, 'x') + "\n";
    }
    struct Case {
        std::string bytes;
        const char* command;
        R result;
        const char* value_read; // what the frequency, mode, RIT or PTT reads as, or its error
    } const cases[] = {
        {"get_freq:\nFrequency: 14200000\nRPRT 0\n", "get_freq", R::done, "14200000"},
        {"get_freq:\r\nFrequency: 7074000\r\nRPRT 0\r\n", "get_freq", R::done, "7074000"},
        {"get_freq:\nFrequency: 1420", "get_freq", R::more, ""},
        {"get_freq:\nFrequency: nan\nRPRT 0\n", "get_freq", R::done, "no frequency"},
        {"get_freq:\nFrequency: -5\nRPRT 0\n", "get_freq", R::done, "impossible frequency"},
        {"get_freq:\nFrequency: 1e30\nRPRT 0\n", "get_freq", R::done, "impossible frequency"},
        {"get_freq:\nFrequency: 14200000abc\nRPRT 0\n", "get_freq", R::done, "no frequency"},
        {"get_freq:\nRPRT -6\n", "get_freq", R::done, "Hamlib error -6"},
        {"get_mode:\nMode: USB\nPassband: 2400\nRPRT 0\n", "get_mode", R::done, "USB"},
        {"get_mode:\nMode: U$B\nRPRT 0\n", "get_mode", R::done, "a mode no rig has"},
        {"get_rit:\nRIT: -120\nRPRT 0\n", "get_rit", R::done, "-120"},
        {"get_rit:\nRIT: 250000\nRPRT 0\n", "get_rit", R::done, "impossible RIT"},
        {"get_ptt:\nRPRT -11\n", "get_ptt", R::done, "receiving"},
        {"get_ptt:\nPTT: 1\nRPRT 0\n", "get_ptt", R::done, "transmitting"},
        {"HTTP/1.1 400 Bad Request\r\n\r\n", "get_freq", R::bad, "not a rigctld answer"},
        {"get_mode:\nMode: USB\nRPRT 0\n", "get_freq", R::bad, "not a rigctld answer"},
        {"get_freq:\nFrequency: \x01\x02\nRPRT 0\n", "get_freq", R::bad, "bytes no rigctld"},
        {"get_freq:\nRPRT zero\n", "get_freq", R::bad, "malformed status"},
        {std::string(1 << 20, 'x'), "get_freq", R::bad, "a line longer than 1024"},
        {"get_freq:\n" + std::string(70'000, '\n'), "get_freq", R::bad, "too many lines"},
        {"dump_caps:\n" + many_long_lines, "dump_caps", R::bad, "longer than 64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 60));
        rig::Answer answer;
        std::string error;
        ASSERT_EQ(read(c.bytes, c.command, answer, error), c.result) << error;
        if (c.result == R::bad) {
            EXPECT_NE(error.find(c.value_read), std::string::npos) << error;
            continue;
        }
        if (c.result == R::more) {
            continue;
        }
        rig::RigState s;
        const std::string name = c.command;
        std::string why = name == "get_freq"   ? rig::read_frequency(answer, s)
                          : name == "get_mode" ? rig::read_mode(answer, s)
                          : name == "get_rit"  ? rig::read_rit(answer, s)
                                               : rig::read_ptt(answer, s);
        const std::string value = !why.empty()         ? why
                                  : name == "get_freq" ? std::to_string(int64_t(s.freq_hz))
                                  : name == "get_mode" ? s.mode
                                  : name == "get_rit"  ? std::to_string(int(s.rit_hz))
                                  : s.transmitting     ? "transmitting"
                                                       : "receiving";
        EXPECT_NE(value.find(c.value_read), std::string::npos) << value;
    }
}

TEST(RigCorrection, MovesTheReceiverByWholeStepsTheWayTheSidebandNeeds) {
    rig::RigState usb;
    usb.freq_hz = 14'200'000;
    usb.mode = "USB";
    usb.has_rit = true;
    usb.max_rit_hz = 9990;
    rig::RigState lsb = usb;
    lsb.mode = "LSB";
    rig::RigState no_rit = usb;
    no_rit.has_rit = false;
    rig::RigState fm = usb;
    fm.mode = "FM";
    rig::RigState sending = usb;
    sending.transmitting = true;
    rig::RigState rit_near_end = usb;
    rit_near_end.rit_hz = 9985;
    // Voice: df, good, voice, uncertainty, ambiguous.
    const rig::Reading voice{7.372, true, true, 0.2, false},
        ambiguous{7.372, true, true, 0.2, true}, loose{7.372, true, true, 0.51, false},
        no_voice{7.372, false, true, 0, false}, coarse_ok{7.372, true, true, 4.9, false};
    struct Case {
        double df;
        bool ok;
        double step;
        const rig::RigState& rig;
        double move;                         // expected move of the receiver, when not refused
        double target;                       // RIT or frequency asked for
        const char* why;                     // part of the refusal, or "" for none
        const rig::Reading* voice = nullptr; // a voice reading instead of df and ok
        bool vfo = false;
    } const cases[] = {
        {7.372, true, 1, usb, 7, 7, ""},
        {0, true, 1, usb, 7, 7, "", &voice},
        {0, true, 10, usb, 10, 10, "", &coarse_ok},
        {0, true, 1, usb, 0, 0, "ambiguous", &ambiguous},
        {0, true, 1, usb, 0, 0, "uncertain (+-0.51 Hz, over half the rig's step of 1 Hz)", &loose},
        {0, true, 1, usb, 0, 0, "No voice reading yet", &no_voice},
        {7.372, true, 1, usb, 7, 14'200'007, "", nullptr, true},
        {7.372, true, 1, lsb, -7, 14'199'993, "", nullptr, true},
        {7.372, true, 1, rit_near_end, 7, 14'200'007, "", nullptr, true},
        {7.372, true, 1, lsb, -7, -7, ""},
        {-7.6, true, 1, usb, -8, -8, ""},
        {7.372, true, 10, usb, 10, 10, ""},
        {7.372, true, 1, no_rit, 7, 14'200'007, ""},
        {0.49, true, 1, usb, 0, 0, "within the rig's step (1 Hz)"},
        {4.9, true, 10, usb, 0, 0, "within the rig's step (10 Hz)"},
        {7.372, false, 1, usb, 0, 0, "No good reading of at least 1 s"},
        {7.372, true, 1, fm, 0, 0, "USB or LSB"},
        {7.372, true, 1, sending, 0, 0, "transmitting"},
        {7.372, true, 1, rit_near_end, 0, 0, "leave the rig's range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.df) + " " + c.rig.mode + " step " + std::to_string(c.step));
        const rig::Reading tone{c.df, c.ok};
        const rig::Reading& reading = c.voice ? *c.voice : tone;
        const rig::Correction k = rig::plan_correction(reading, c.step, c.rig, c.vfo);
        if (*c.why) {
            EXPECT_NE(k.refused.find(c.why), std::string::npos) << k.refused;
            continue;
        }
        EXPECT_EQ(k.refused, "");
        EXPECT_EQ(k.move_hz, c.move);
        EXPECT_EQ(k.target_hz, c.target);
        EXPECT_EQ(k.via_rit, c.rig.has_rit && !c.vfo);
        // What is left after the move is below half a step.
        EXPECT_LE(std::abs(rig::df_after_move(reading.df_hz, k.move_hz, c.rig.sideband())),
                  c.step / 2);
    }
    EXPECT_EQ(rig::correction_report(7, 0.372, 1), "RX +7 Hz; residual +0.372 Hz (rig step 1 Hz)");
}

TEST(RigAddress, TakesHostAndPortOrTheDefaults) {
    std::string host;
    int port = 0;
    EXPECT_TRUE(rig::parse_address("", host, port));
    EXPECT_EQ(host + ":" + std::to_string(port), "127.0.0.1:4532");
    EXPECT_TRUE(rig::parse_address("shack.local:4533", host, port));
    EXPECT_EQ(host + ":" + std::to_string(port), "shack.local:4533");
    EXPECT_TRUE(rig::parse_address("::1:4533", host, port));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"host:0", "host:65536", "host:12ab", "host:", "a b:4532"}) {
        EXPECT_FALSE(rig::parse_address(bad, host, port)) << bad;
    }
}

} // namespace

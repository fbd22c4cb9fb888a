// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes from the network as rigctld's answer, in pieces cut where the first byte says: the
// reader ends or keeps waiting within its bounds, every value read is one a rig can have, and a
// correction planned from it stays within the RIT range it was given.
#include "rig/protocol.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t piece = data[0] % 64 + 1;
    const char* commands[] = {"get_freq", "get_mode", "get_rit", "get_ptt", "dump_caps"};
    const char* command = commands[data[0] % 5];
    rig::AnswerReader reader(command);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size_t fed = 0;
    auto result = rig::AnswerReader::Result::more;
    for (size_t at = 0; at < size - 1 && result == rig::AnswerReader::Result::more; at += piece) {
        const size_t n = std::min(piece, size - 1 - at);
        result = reader.feed(bytes + at, n);
        fed += n;
    }
    size_t kept = 0;
    for (const std::string& line : reader.answer().lines) {
        kept += line.size() + 1;
        if (line.size() > rig::AnswerReader::max_line_bytes) {
            std::abort();
        }
    }
    if (kept > rig::AnswerReader::max_answer_bytes || kept > fed) {
        std::abort();
    }
    if (result != rig::AnswerReader::Result::done) {
        return 0;
    }
    rig::RigState s;
    s.mode = "USB";
    s.freq_hz = 14'200'000;
    const rig::Answer& a = reader.answer();
    if ((rig::read_frequency(a, s).empty() && !(s.freq_hz > 0 && s.freq_hz <= 1e11)) ||
        (rig::read_rit(a, s).empty() && !(std::fabs(s.rit_hz) <= rig::max_plausible_rit_hz)) ||
        (rig::read_caps(a, s).empty() && !(s.max_rit_hz >= 0 && s.max_rit_hz <= 99'999))) {
        std::abort();
    }
    rig::read_mode(a, s);
    rig::read_ptt(a, s);
    const rig::Correction c =
        rig::plan_correction(rig::Reading{.df_hz = s.rit_hz, .good = true}, 1.0, s, false);
    if (c.refused.empty() && c.via_rit && std::fabs(c.target_hz) > s.max_rit_hz) {
        std::abort();
    }
    return 0;
}

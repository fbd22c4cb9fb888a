// SPDX-License-Identifier: GPL-3.0-or-later
// The recording check must pass a clean session and catch every way the tone can go wrong:
// a lost, repeated or altered block, a restart from the wrong phase, a click in the silence.
#include "tests/tools/tone_check/recording.h"

#include "dsp/synth.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t block = dsp::tone_block_bytes;

const Bytes& sequence() {
    static const Bytes s = tone_check::synthesizer_sequence(40);
    return s;
}

void silence(Bytes& r, size_t n) {
    r.insert(r.end(), n, 128);
}
void tone(Bytes& r, size_t from, size_t n) {
    r.insert(r.end(), sequence().begin() + static_cast<std::ptrdiff_t>(from),
             sequence().begin() + static_cast<std::ptrdiff_t>(from + n));
}

bool good(const Bytes& r, std::string& why) {
    return tone_check::good_session(tone_check::analyse(r), 5 * block, block, 2000, why);
}

// The first tone plays 6.5 blocks, is cut off, the two queued blocks (6 and 7) are dropped, and
// the restart plays from block 8.
Bytes clean_session() {
    Bytes r;
    silence(r, 3000);
    tone(r, 0, 6 * block + 2048);
    silence(r, 5000);
    tone(r, 8 * block, 3 * block);
    silence(r, 1000);
    return r;
}

TEST(ToneCheck, CleanSessionIsFoundExactly) {
    const tone_check::Analysis a = tone_check::analyse(clean_session());
    ASSERT_TRUE(a.found_first);
    EXPECT_EQ(a.first.recording_offset, 3000u);
    EXPECT_EQ(a.first.sequence_offset, 0u);
    EXPECT_EQ(a.first.length, 6 * block + 2048);
    ASSERT_TRUE(a.found_second);
    EXPECT_EQ(a.second.recording_offset, 3000 + 6 * block + 2048 + 5000);
    EXPECT_EQ(a.second.sequence_offset, 8 * block);
    EXPECT_EQ(a.second.length, 3 * block);
    EXPECT_EQ(a.foreign_bytes, 0u);
    std::string why;
    EXPECT_TRUE(good(clean_session(), why)) << why;
}

TEST(ToneCheck, RestartAtTheNextUnfilledBlockIsAccepted) {
    // A stop right after a refill leaves nothing cut: the restart may begin at the very next block.
    Bytes r;
    silence(r, 100);
    tone(r, 0, 6 * block);
    silence(r, 4000);
    tone(r, 6 * block, 2 * block);
    std::string why;
    EXPECT_TRUE(good(r, why)) << why;
}

TEST(ToneCheck, FaultsInsideTheFirstToneAreCaught) {
    struct Case {
        const char* name;
        Bytes recording;
    };
    std::vector<Case> cases;
    {
        Bytes r; // block 6 lost: the tone jumps ahead without a pause
        silence(r, 500);
        tone(r, 0, 6 * block);
        tone(r, 7 * block, 8 * block);
        cases.push_back({"lost block", r});
    }
    {
        Bytes r; // block 6 played twice
        silence(r, 500);
        tone(r, 0, 7 * block);
        tone(r, 6 * block, 8 * block);
        cases.push_back({"repeated block", r});
    }
    {
        Bytes r; // one byte off by one, as a resampler or a volume change would leave it
        silence(r, 500);
        tone(r, 0, 9 * block);
        r[500 + 3 * block + 17] ^= 1;
        cases.push_back({"altered byte", r});
    }
    {
        Bytes r; // a short gap of silence inside the first tone, then it runs on
        silence(r, 500);
        tone(r, 0, 6 * block);
        silence(r, 300);
        tone(r, 6 * block, 6 * block);
        cases.push_back({"underrun gap", r});
    }
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(good(c.recording, why)) << c.name;
        EXPECT_FALSE(why.empty()) << c.name;
    }
}

TEST(ToneCheck, ReportedUnderrunsMayPauseTheToneButNeverSkipIt) {
    // The first tone pauses inside block 6; `resume` is where it goes on in the sequence.
    struct Case {
        const char* name;
        size_t pauses_allowed;
        unsigned char fill;
        size_t gap;
        size_t resume;
        bool good;
    };
    const size_t due = 6 * block + 1000;
    const Case cases[] = {
        {"silence, then the due byte", 1, 128, 300, due, true},
        {"Wine's zero fill, then the due byte", 1, 0, 300, due, true},
        {"no underrun reported", 0, 128, 300, due, false},
        {"a block skipped after the pause", 1, 128, 300, due + block, false},
        {"bytes repeated after the pause", 1, 0, 300, due - 100, false},
        {"a pause as long as a restart's", 1, 128, 2000, due, false},
    };
    for (const Case& c : cases) {
        Bytes r;
        silence(r, 500);
        tone(r, 0, due);
        r.insert(r.end(), c.gap, c.fill);
        tone(r, c.resume, 3 * block);
        silence(r, 5000);
        tone(r, 12 * block, 2 * block);
        std::string why;
        const bool ok = tone_check::good_session(tone_check::analyse(r, c.pauses_allowed, 2000),
                                                 5 * block, block, 2000, why);
        EXPECT_EQ(ok, c.good) << c.name << ": " << why;
    }
}

TEST(ToneCheck, WrongRestartsAreCaught) {
    struct Case {
        const char* name;
        size_t from;
    };
    // The phase reset to 0, the restart continuing mid-block where the cut was, and a restart
    // from a block the first tone already played.
    const Case cases[] = {{"phase reset", 0},
                          {"continues at the cut", 6 * block + 2048},
                          {"replays a block", 5 * block}};
    for (const Case& c : cases) {
        Bytes r;
        silence(r, 3000);
        tone(r, 0, 6 * block + 2048);
        silence(r, 5000);
        tone(r, c.from, 2 * block);
        std::string why;
        EXPECT_FALSE(good(r, why)) << c.name;
    }
}

TEST(ToneCheck, MissingOrShortTonesAndClicksFail) {
    std::string why;
    Bytes quiet;
    silence(quiet, 20000);
    EXPECT_FALSE(tone_check::analyse(quiet).found_first);
    EXPECT_FALSE(good(quiet, why));

    Bytes late; // the tone starts mid-sequence: the program's phase was not 0 at the first start
    silence(late, 100);
    tone(late, block, 8 * block);
    EXPECT_FALSE(good(late, why));

    Bytes short_first = clean_session();
    short_first.erase(short_first.begin() + 3000 + 4 * block,
                      short_first.begin() + 3000 + 6 * block + 2048);
    EXPECT_FALSE(good(short_first, why));

    Bytes click = clean_session();
    click[1500] = 200;
    EXPECT_EQ(tone_check::analyse(click).foreign_bytes, 1u);
    EXPECT_FALSE(good(click, why));

    Bytes no_second; // enough for a single-tone check, not for one with a restart
    silence(no_second, 100);
    tone(no_second, 0, 6 * block);
    EXPECT_TRUE(tone_check::good_session(tone_check::analyse(no_second), 5 * block, 0, 0, why));
    EXPECT_FALSE(good(no_second, why));
}

} // namespace

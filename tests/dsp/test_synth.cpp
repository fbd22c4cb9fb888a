#include "dsp/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double step_1000 = 0.5699034013605442; // (1000 * 6.283185) / 11025

// The program's tone phase is process-wide; each test starts a fresh run from 0.
class ToneBlocks : public ::testing::Test {
  protected:
    void SetUp() override { dsp::set_tone_phase(0.0); }
    void TearDown() override { dsp::set_tone_phase(0.0); }

    std::vector<unsigned char> next_block() {
        std::vector<unsigned char> block(dsp::tone_block_bytes, 0);
        dsp::fill_tone_block(block.data(), dsp::base_frequency_hz);
        return block;
    }
};

TEST_F(ToneBlocks, FirstBlockOfARunStartsWithTheKnownBytes) {
    const unsigned char expected[32] = {127, 218, 232, 172, 112, 110, 142, 142, 83, 22, 34,
                                        124, 216, 232, 173, 113, 109, 142, 143, 85, 23, 32,
                                        121, 215, 233, 175, 114, 109, 141, 143, 87, 24};
    const auto block = next_block();
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(block[i], expected[i]) << "byte " << i;
    }
}

TEST_F(ToneBlocks, PhaseAfterEachBlockIsExact) {
    next_block();
    EXPECT_EQ(dsp::tone_phase(), 3.2626969727885466);
    next_block();
    EXPECT_EQ(dsp::tone_phase(), 0.24220894557709283);
}

TEST_F(ToneBlocks, FirstTwoBlocksSpanTheFullByteRange) {
    auto a = next_block();
    auto b = next_block();
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(*std::min_element(a.begin(), a.end()), 16);
    EXPECT_EQ(*std::max_element(a.begin(), a.end()), 237);
}

TEST_F(ToneBlocks, ConsecutiveBlocksEqualOneUnbrokenRun) {
    auto joined = next_block();
    const auto second = next_block();
    joined.insert(joined.end(), second.begin(), second.end());

    std::vector<unsigned char> run(2 * dsp::tone_block_bytes, 0);
    double phase = 0.0;
    dsp::synthesize(run.data(), run.size(), dsp::base_frequency_hz, phase);
    EXPECT_EQ(joined, run);
    EXPECT_EQ(phase, dsp::tone_phase());
}

TEST_F(ToneBlocks, PhaseCarriesOverAnyEarlierBlocks) {
    // A later block starts where the previous one ended, never from zero again.
    next_block();
    const double carried = dsp::tone_phase();
    const auto later = next_block();
    std::vector<unsigned char> fresh(dsp::tone_block_bytes, 0);
    double phase = carried;
    dsp::synthesize(fresh.data(), fresh.size(), dsp::base_frequency_hz, phase);
    EXPECT_EQ(later, fresh);
    double from_zero = 0.0;
    std::vector<unsigned char> restarted(dsp::tone_block_bytes, 0);
    dsp::synthesize(restarted.data(), restarted.size(), dsp::base_frequency_hz, from_zero);
    EXPECT_NE(later, restarted);
}

TEST(ToneWrap, PhaseExactlyOnTheWrapConstantIsKept) {
    // Find the phase from which one step lands exactly on the constant.
    double start = dsp::two_pi - step_1000;
    while (start + step_1000 < dsp::two_pi) {
        start = std::nextafter(start, 10.0);
    }
    while (start + step_1000 > dsp::two_pi) {
        start = std::nextafter(start, 0.0);
    }
    ASSERT_EQ(start + step_1000, dsp::two_pi);

    unsigned char byte = 0;
    double phase = start;
    dsp::synthesize(&byte, 1, dsp::base_frequency_hz, phase);
    EXPECT_EQ(phase, dsp::two_pi);

    // One representable value further and the step crosses it: a single subtraction wraps it.
    phase = std::nextafter(start, 10.0);
    const double unwrapped = phase + step_1000;
    ASSERT_GT(unwrapped, dsp::two_pi);
    dsp::synthesize(&byte, 1, dsp::base_frequency_hz, phase);
    EXPECT_EQ(phase, unwrapped - dsp::two_pi);
}

TEST(ToneRange, AnyPhaseStaysWithinTheBytesOfTheFullRange) {
    // The sum of the two sines never leaves [-1.76, 1.76]: bytes 16..237 whatever the phase.
    std::vector<unsigned char> bytes(11025 * 3);
    double phase = 0.123;
    dsp::synthesize(bytes.data(), bytes.size(), 997, phase);
    EXPECT_GE(*std::min_element(bytes.begin(), bytes.end()), 16);
    EXPECT_LE(*std::max_element(bytes.begin(), bytes.end()), 237);
}

} // namespace

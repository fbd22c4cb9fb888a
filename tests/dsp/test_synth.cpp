// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double step_1000 = 0.5699034013605442; // (1000 * 6.283185) / 11025

// The program's tone phase as the process started, before any test filled a block.
double phase_at_start = -1.0;
struct PhaseAtStart : ::testing::Environment {
    void SetUp() override { phase_at_start = dsp::tone_phase(); }
};
const auto* const phase_recorder = ::testing::AddGlobalTestEnvironment(new PhaseAtStart);

std::vector<unsigned char> from_phase(double& phase, size_t count) {
    std::vector<unsigned char> bytes(count, 0);
    dsp::synthesize(bytes.data(), count, dsp::base_frequency_hz, phase);
    return bytes;
}

std::vector<unsigned char> next_block() {
    std::vector<unsigned char> block(dsp::tone_block_bytes, 0);
    dsp::fill_tone_block(block.data(), dsp::base_frequency_hz);
    return block;
}

TEST(ToneBlocks, ARunStartsAtPhaseZeroWithTheKnownBytes) {
    EXPECT_EQ(phase_at_start, 0.0);
    const unsigned char expected[32] = {127, 218, 232, 172, 112, 110, 142, 142, 83, 22, 34,
                                        124, 216, 232, 173, 113, 109, 142, 143, 85, 23, 32,
                                        121, 215, 233, 175, 114, 109, 141, 143, 87, 24};
    double phase = 0.0;
    const auto block = from_phase(phase, dsp::tone_block_bytes);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(block[i], expected[i]) << "byte " << i;
    }
}

TEST(ToneBlocks, PhaseAfterEachBlockIsExact) {
    double phase = 0.0;
    from_phase(phase, dsp::tone_block_bytes);
    EXPECT_EQ(phase, 3.2626969727885466);
    from_phase(phase, dsp::tone_block_bytes);
    EXPECT_EQ(phase, 0.24220894557709283);
}

TEST(ToneBlocks, FirstTwoBlocksSpanTheFullByteRange) {
    double phase = 0.0;
    const auto a = from_phase(phase, 2 * dsp::tone_block_bytes);
    EXPECT_EQ(*std::min_element(a.begin(), a.end()), 16);
    EXPECT_EQ(*std::max_element(a.begin(), a.end()), 237);
}

// The program's phase runs on from block to block: two fills equal one unbroken run from where
// the phase stood, and never start from zero again.
TEST(ToneBlocks, ConsecutiveBlocksContinueOneUnbrokenRun) {
    const double before = dsp::tone_phase();
    auto joined = next_block();
    const auto second = next_block();
    joined.insert(joined.end(), second.begin(), second.end());

    double phase = before;
    EXPECT_EQ(joined, from_phase(phase, 2 * dsp::tone_block_bytes));
    EXPECT_EQ(phase, dsp::tone_phase());

    double from_zero = 0.0;
    EXPECT_NE(next_block(), from_phase(from_zero, dsp::tone_block_bytes));
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

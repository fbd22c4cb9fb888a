// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/bandpass.h"
#include "dsp/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Block = std::array<unsigned char, dsp::capture_block_bytes>;
using Points = std::array<dsp::XYPoint, dsp::xy_point_count>;

Points points_of(const Block& block) {
    Points points{};
    dsp::compute_points(block.data(), points.data());
    return points;
}

Block filled(unsigned char value) {
    Block b;
    b.fill(value);
    return b;
}

// The synthesizer's phase sequence from 0, one tone at a time.
Block single_tone(double harmonic) {
    Block b{};
    double p = 0.0;
    for (auto& byte : b) {
        byte = static_cast<unsigned char>(static_cast<int>(63.0 * std::sin(harmonic * p) + 127.0));
        p = p + (1000 * dsp::two_pi) / 11025.0;
        if (p > dsp::two_pi) {
            p = p - dsp::two_pi;
        }
    }
    return b;
}

Block first_tone_block() {
    Block b{};
    double phase = 0.0;
    dsp::synthesize(b.data(), b.size(), dsp::base_frequency_hz, phase);
    return b;
}

std::set<std::pair<int, int>> distinct(const Points& points) {
    std::set<std::pair<int, int>> s;
    for (const auto& p : points) {
        s.insert({p.x, p.y});
    }
    return s;
}

TEST(BandpassConstantBlocks, EveryPointLandsOnOnePixel) {
    const std::pair<unsigned char, std::pair<int, int>> cases[] = {
        {127, {44, 44}}, // silence as the system centres it
        {128, {43, 43}}, // small fractions below 44 truncate down
        {0, {44, 47}},
        {255, {43, 40}},
    };
    for (const auto& [value, pixel] : cases) {
        const auto points = points_of(filled(value));
        ASSERT_EQ(points.size(), 511u);
        for (const auto& p : points) {
            ASSERT_EQ(std::make_pair(p.x, p.y), pixel) << "block of " << int(value);
        }
    }
}

TEST(BandpassFigures, OwnToneGivesTheSidewaysFigureEight) {
    const auto points = points_of(first_tone_block());
    const std::pair<int, int> first[11] = {{11, 53}, {18, 77}, {34, 62}, {52, 26},
                                           {68, 10}, {76, 33}, {74, 68}, {62, 74},
                                           {44, 45}, {26, 14}, {14, 18}};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(std::make_pair(points[i].x, points[i].y), first[i]) << "position " << i + 1;
    }
    int min_x = 1000, max_x = -1000, min_y = 1000, max_y = -1000;
    for (const auto& p : points) {
        min_x = std::min(min_x, p.x);
        max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y);
        max_y = std::max(max_y, p.y);
    }
    EXPECT_EQ(min_x, 10);
    EXPECT_EQ(max_x, 77);
    EXPECT_EQ(min_y, 10);
    EXPECT_EQ(max_y, 77);
    EXPECT_EQ(distinct(points).size(), 325u);
}

// The first tone alone is a horizontal line through the centre, the second a vertical one.
TEST(BandpassFigures, EachToneAloneIsALineAlongItsAxis) {
    for (const double harmonic : {1.0, 2.0}) {
        std::set<int> along, across;
        for (const auto& p : points_of(single_tone(harmonic))) {
            along.insert(harmonic == 1.0 ? p.x : p.y);
            across.insert(harmonic == 1.0 ? p.y : p.x);
        }
        EXPECT_EQ(across, (std::set<int>{43, 44})) << harmonic;
        EXPECT_EQ(*along.begin(), 10) << harmonic;
        EXPECT_EQ(*along.rbegin(), 77) << harmonic;
    }
}

TEST(BandpassFigures, FullScaleInputReachesBeyondThePane) {
    // A full-scale square wave at f1 drives the horizontal filter past the pane's edges; the
    // points are passed on, not clamped.
    Block b = single_tone(1.0);
    for (auto& v : b) {
        v = v >= 127 ? 255 : 0;
    }
    const auto points = points_of(b);
    const bool outside = std::any_of(points.begin(), points.end(), [](const dsp::XYPoint& p) {
        return p.x < 0 || p.x > 88 || p.y < 0 || p.y > 88;
    });
    EXPECT_TRUE(outside);
}

TEST(BandpassFigures, LastByteIsNeverRead) {
    auto b = first_tone_block();
    const auto before = points_of(b);
    b[527] = static_cast<unsigned char>(b[527] ^ 0xFF);
    const auto after = points_of(b);
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].x, after[i].x);
        EXPECT_EQ(before[i].y, after[i].y);
    }
}

// Sums in tap order 0..15, each product and sum rounded on its own: the order the pane's figure
// is defined by. The tap-major loops of compute_points must give the same bits.
struct Sums {
    double a, b;
};
Sums ordered_sums(const unsigned char* bytes) {
    volatile double a = (bytes[0] - 127) * dsp::filter_a[0];
    volatile double b = (bytes[0] - 127) * dsp::filter_b[0];
    for (size_t k = 1; k < dsp::filter_taps; ++k) {
        const double s = bytes[k] - 127;
        volatile double pa = s * dsp::filter_a[k];
        volatile double pb = s * dsp::filter_b[k];
        a = pa + a;
        b = pb + b;
    }
    return {a, b};
}

dsp::XYPoint pixel_of(Sums s) {
    return {static_cast<int>(s.a / 2.0 + 44.0), static_cast<int>(s.b / -2.0 + 44.0)};
}

// Random blocks in which the window of position 1 is antisymmetric about its centre: with
// symmetric taps its sums are zero in exact arithmetic, so the point sits on the boundary between
// pixels 43 and 44 and the rounding of each product and sum decides which side it falls.
std::vector<Block> boundary_blocks(int count) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> byte(0, 254);
    std::vector<Block> blocks(count);
    for (auto& b : blocks) {
        for (auto& v : b) {
            v = static_cast<unsigned char>(byte(rng));
        }
        for (size_t k = 0; k < 8; ++k) {
            b[1 + 15 - k] = static_cast<unsigned char>(254 - b[1 + k]);
        }
    }
    return blocks;
}

TEST(BandpassRounding, MatchesTheOrderedSumOnRandomBlocks) {
    int checked = 0;
    for (const auto& block : boundary_blocks(400)) {
        const auto points = points_of(block);
        for (size_t i = 1; i < dsp::filter_positions; ++i) {
            const auto expected = pixel_of(ordered_sums(block.data() + i));
            ASSERT_EQ(points[i - 1].x, expected.x) << "position " << i;
            ASSERT_EQ(points[i - 1].y, expected.y) << "position " << i;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 400 * 511);
}

TEST(BandpassRounding, OrderAndFusedMultiplyAddWouldChangePixels) {
    // The comparison above only has teeth if another rounding would move some pixel: count the
    // positions where summing in reverse, or with fused multiply-adds, lands elsewhere.
    int reversed_differs = 0;
    int fused_differs = 0;
    for (const auto& block : boundary_blocks(400)) {
        {
            const unsigned char* bytes = block.data() + 1;
            const auto expected = pixel_of(ordered_sums(bytes));
            volatile double ra = 0.0, rb = 0.0;
            double fa = (bytes[0] - 127) * dsp::filter_a[0];
            double fb = (bytes[0] - 127) * dsp::filter_b[0];
            for (int k = 15; k >= 0; --k) {
                volatile double pa = (bytes[k] - 127) * dsp::filter_a[k];
                volatile double pb = (bytes[k] - 127) * dsp::filter_b[k];
                ra = ra + pa;
                rb = rb + pb;
            }
            for (size_t k = 1; k < dsp::filter_taps; ++k) {
                fa = std::fma(bytes[k] - 127.0, dsp::filter_a[k], fa);
                fb = std::fma(bytes[k] - 127.0, dsp::filter_b[k], fb);
            }
            const auto r = pixel_of({ra, rb});
            const auto f = pixel_of({fa, fb});
            reversed_differs += (r.x != expected.x || r.y != expected.y);
            fused_differs += (f.x != expected.x || f.y != expected.y);
        }
    }
    EXPECT_GT(reversed_differs, 0);
    EXPECT_GT(fused_differs, 0);
}

} // namespace

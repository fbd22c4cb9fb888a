// SPDX-License-Identifier: GPL-3.0-or-later
#include "pane_fixture.h"

#include "dsp/bandpass.h"
#include "dsp/synth.h"
#include "platform/gdi_internal.h"

#include <array>
#include <set>
#include <utility>
#include <vector>

namespace {

// Rows of the reference curve, one per column.
constexpr int reference_rows[89] = {
    44, 35, 27, 20, 14, 11, 9,  9,  10, 14, 18, 24, 30, 35, 41, 45, 48, 50, 51, 50, 49, 46, 43,
    41, 38, 37, 36, 37, 39, 42, 47, 52, 58, 64, 69, 74, 77, 79, 78, 76, 72, 66, 59, 51, 42, 34,
    26, 19, 14, 10, 8,  9,  11, 14, 19, 24, 30, 36, 41, 46, 49, 50, 51, 50, 48, 46, 43, 40, 38,
    36, 36, 37, 39, 43, 48, 53, 59, 65, 70, 74, 77, 79, 78, 76, 71, 65, 58, 50, 41};

std::set<std::pair<int, int>> pixels_of_colour(const PaneTest& t, HWND pane, uint32_t colour,
                                               uint32_t (PaneTest::*px)(HWND, int, int) const) {
    std::set<std::pair<int, int>> found;
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            if ((t.*px)(pane, x, y) == colour) {
                found.insert({x, y});
            }
        }
    }
    return found;
}

class IdleAndReferencePanes : public PaneTest {
  protected:
    std::set<std::pair<int, int>> with(HWND pane, uint32_t colour) const {
        return pixels_of_colour(*this, pane, colour, &PaneTest::pixel);
    }
};

TEST_F(IdleAndReferencePanes, IdlePaneIsGrayWithOneBlackLineThatStopsShortOfColumnZero) {
    HWND pane = create_pane("TestScope1");
    std::set<std::pair<int, int>> line;
    for (int x = 1; x <= 88; ++x) {
        line.insert({x, 44});
    }
    EXPECT_EQ(with(pane, black), line);
    EXPECT_EQ(pixel(pane, 0, 44), gray);
    EXPECT_EQ(with(pane, gray).size(), 89u * 89u - 88u);
}

TEST_F(IdleAndReferencePanes, ReferencePaneDrawsTheTwoToneCurveOverTheCentreLine) {
    HWND pane = create_pane("TestScope2");
    const auto curve = with(pane, green);
    // The first segment, (0,44) to (0,44), draws nothing, so column 0 starts with the second.
    for (int i = 0; i < 88; ++i) {
        EXPECT_TRUE(curve.count({i, reference_rows[i]})) << "column " << i;
    }
    // The last end point is never drawn.
    EXPECT_FALSE(curve.count({88, 41}));
    int top = 89, bottom = -1;
    for (const auto& [x, y] : curve) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    EXPECT_EQ(top, 8);
    EXPECT_EQ(bottom, 79);
    // The centre line shows wherever the curve does not cross it; nothing else is drawn.
    for (int x = 1; x <= 88; ++x) {
        if (!curve.count({x, 44})) {
            EXPECT_EQ(pixel(pane, x, 44), black) << "column " << x;
        }
    }
    EXPECT_EQ(with(pane, green).size() + with(pane, black).size() + with(pane, gray).size(),
              89u * 89u);
}

TEST_F(IdleAndReferencePanes, ReferenceCurveIsTheSameOnEveryPaintAndLeaksNoPen) {
    HWND pane = create_pane("TestScope2");
    const auto first = *platform::testing::window_pixels(pane);
    const int objects = platform::gdi::live_objects();
    for (int i = 0; i < 5; ++i) {
        InvalidateRect(pane, nullptr, TRUE);
        const int painted = platform::testing::paint_count(pane);
        ASSERT_TRUE(platform::pump_until(
            [&] { return platform::testing::paint_count(pane) > painted; }, 1'000'000));
    }
    EXPECT_EQ(platform::testing::window_pixels(pane)->pixels, first.pixels);
    EXPECT_EQ(platform::gdi::live_objects(), objects);
}

class XYPane : public PaneTest {
  protected:
    std::set<std::pair<int, int>> yellow_pixels(HWND pane) const {
        return pixels_of_colour(*this, pane, yellow, &PaneTest::pixel);
    }
    std::array<unsigned char, dsp::capture_block_bytes> block{};
};

TEST_F(XYPane, SilenceShowsOnePixelInTheCentre) {
    block.fill(127);
    capture_block = block.data();
    HWND pane = create_pane("TestXYScope", true);
    run_for_ms(30);
    EXPECT_EQ(yellow_pixels(pane), (std::set<std::pair<int, int>>{{44, 44}}));
    EXPECT_EQ(pixels_of_colour(*this, pane, gray, &PaneTest::pixel).size(), 89u * 89u - 1u);
}

TEST_F(XYPane, OwnToneShowsTheFigureEight) {
    double phase = 0.0;
    dsp::synthesize(block.data(), block.size(), dsp::base_frequency_hz, phase);
    capture_block = block.data();
    HWND pane = create_pane("TestXYScope", true);
    run_for_ms(30);
    dsp::XYPoint points[dsp::xy_point_count];
    dsp::compute_points(block.data(), points);
    std::set<std::pair<int, int>> expected;
    for (const auto& p : points) {
        expected.insert({p.x, p.y});
    }
    ASSERT_EQ(expected.size(), 325u);
    EXPECT_EQ(yellow_pixels(pane), expected);
}

TEST_F(XYPane, NoCaptureBlockShowsABlankPane) {
    HWND pane = create_pane("TestXYScope", true);
    run_for_ms(30);
    EXPECT_EQ(pixels_of_colour(*this, pane, gray, &PaneTest::pixel).size(), 89u * 89u);
}

TEST_F(XYPane, EachRepaintStartsFromGrayAndFollowsTheBlock) {
    double phase = 0.0;
    dsp::synthesize(block.data(), block.size(), dsp::base_frequency_hz, phase);
    capture_block = block.data();
    HWND pane = create_pane("TestXYScope", true);
    run_for_ms(30);
    block.fill(127); // the device overwrites the block in place
    run_for_ms(30);
    EXPECT_EQ(yellow_pixels(pane), (std::set<std::pair<int, int>>{{44, 44}}));
}

TEST_F(XYPane, RepaintsAboutAHundredTimesASecondAlsoWhileThePointerMovesOverIt) {
    block.fill(127);
    capture_block = block.data();
    HWND pane = create_pane("TestXYScope", true);
    int before = platform::testing::paint_count(pane);
    run_for_ms(1000);
    int repaints = platform::testing::paint_count(pane) - before;
    EXPECT_GE(repaints, 90);
    EXPECT_LE(repaints, 101);

    // A move every 3 ms for 2 s, the capture turning from the tone to silence halfway: the pace
    // holds and the figure follows.
    double phase = 0.0;
    dsp::synthesize(block.data(), block.size(), dsp::base_frequency_hz, phase);
    before = platform::testing::paint_count(pane);
    for (int ms = 0; ms < 2000; ms += 3) {
        if (ms == 999) {
            EXPECT_GT(yellow_pixels(pane).size(), 1u);
            block.fill(127);
        }
        platform::testing::move_pointer(pane, 20 + ms % 50, 60 - ms % 40);
        run_for_ms(3);
    }
    repaints = platform::testing::paint_count(pane) - before;
    EXPECT_GE(repaints, 190);
    EXPECT_LE(repaints, 202);
    EXPECT_EQ(yellow_pixels(pane), (std::set<std::pair<int, int>>{{44, 44}}));
}

} // namespace

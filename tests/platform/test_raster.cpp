// SPDX-License-Identifier: GPL-3.0-or-later
// The software raster: colours, clipping, and Windows' choice of pixels for one-pixel lines.
#include "platform/raster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using platform::raster::Surface;
using platform::raster::View;
namespace raster = platform::raster;

constexpr uint32_t bg = 0x808080;
constexpr uint32_t ink = 0x64FF64;

using Pixels = std::set<std::pair<int, int>>;

// The view coordinates of every pixel that differs from the background.
Pixels inked(const View& v) {
    Pixels out;
    for (int y = 0; y < v.surface->height; ++y) {
        for (int x = 0; x < v.surface->width; ++x) {
            if (v.surface->at(x, y) != bg) {
                out.insert({x - v.origin_x, y - v.origin_y});
            }
        }
    }
    return out;
}

Pixels line_pixels(int x0, int y0, int x1, int y1) {
    // Room for lines of +-20 around (32, 32).
    Surface s(64, 64, bg);
    const View v{&s, 0, 0, 64, 64};
    raster::line(v, x0 + 32, y0 + 32, x1 + 32, y1 + 32, ink);
    Pixels out;
    for (const auto& [x, y] : inked(v)) {
        out.insert({x - 32, y - 32});
    }
    return out;
}

TEST(Raster, ColorrefSwapsRedAndBlue) {
    EXPECT_EQ(raster::from_colorref(0x00643264u), 0x643264u);
    EXPECT_EQ(raster::from_colorref(0x00FFFF64u), 0x64FFFFu); // RGB(100, 255, 255)
    EXPECT_EQ(raster::to_colorref(0x112233u), 0x332211u);
    EXPECT_EQ(raster::from_colorref(0xFF010203u), 0x030201u); // high byte dropped
    for (uint32_t c : {0u, 0xFFFFFFu, 0x123456u}) {
        EXPECT_EQ(raster::to_colorref(raster::from_colorref(c)), c);
    }
}

TEST(Raster, FillAndSetPixelStayInsideTheViewAndTheSurface) {
    Surface s(10, 8, 0);
    // A view hanging over the right and bottom edges of the surface.
    View v{&s, 6, 5, 10, 10};
    raster::fill(v, 0xAAAAAA);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(s.at(x, y), (x >= 6 && y >= 5) ? 0xAAAAAAu : 0u) << x << "," << y;
        }
    }
    EXPECT_TRUE(raster::set_pixel(v, 0, 0, 1));
    EXPECT_EQ(s.at(6, 5), 1u);
    EXPECT_TRUE(raster::set_pixel(v, 3, 2, 2));
    EXPECT_EQ(s.at(9, 7), 2u);
    EXPECT_FALSE(raster::set_pixel(v, 4, 0, 3)); // inside the view, off the surface
    EXPECT_FALSE(raster::set_pixel(v, -1, 0, 3));
    EXPECT_FALSE(raster::set_pixel(v, 0, -1, 3));
    EXPECT_FALSE(raster::set_pixel(v, 1 << 30, 1 << 30, 3));
    EXPECT_FALSE(raster::set_pixel(v, -(1 << 30), 0, 3));

    // The view clip is honoured inside the surface too.
    Surface t(10, 10, 0);
    View w{&t, 1, 1, 3, 2};
    raster::fill(w, 5);
    int painted = 0;
    for (uint32_t p : t.pixels) {
        painted += p == 5 ? 1 : 0;
    }
    EXPECT_EQ(painted, 6);
    EXPECT_FALSE(raster::set_pixel(w, 3, 0, 7));
    EXPECT_FALSE(raster::set_pixel(w, 0, 2, 7));

    // Degenerate views draw nothing and do not crash.
    raster::fill(View{}, 1);
    EXPECT_FALSE(raster::set_pixel(View{}, 0, 0, 1));
    raster::line(View{}, 0, 0, 5, 5, 1);
    Surface empty(-3, 4, 0);
    EXPECT_EQ(empty.pixels.size(), 0u);
    raster::line(View{&empty, 0, 0, 5, 5}, 0, 0, 5, 5, 1);
}

// Worked by hand from the biased Bresenham walk. Each line has an exact half-way step; the
// half-way pixel goes to the smaller minor coordinate in every octant.
TEST(Raster, LinesInAllEightOctantsMatchHandWorkedPixels) {
    struct Case {
        int x1, y1;
        Pixels expected;
    };
    const Case cases[] = {
        {4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},        // octant 1
        {1, 4, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},        // octant 2
        {-1, 4, {{0, 0}, {0, 1}, {-1, 2}, {-1, 3}}},     // octant 3 (biased)
        {-4, 1, {{0, 0}, {-1, 0}, {-2, 0}, {-3, 1}}},    // octant 4
        {-4, -1, {{0, 0}, {-1, 0}, {-2, -1}, {-3, -1}}}, // octant 5 (biased)
        {-1, -4, {{0, 0}, {0, -1}, {-1, -2}, {-1, -3}}}, // octant 6 (biased)
        {1, -4, {{0, 0}, {0, -1}, {0, -2}, {1, -3}}},    // octant 7
        {4, -1, {{0, 0}, {1, 0}, {2, -1}, {3, -1}}},     // octant 8 (biased)
        {5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
        {3, 3, {{0, 0}, {1, 1}, {2, 2}}},
        {-3, 3, {{0, 0}, {-1, 1}, {-2, 2}}},
        {5, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
        {-3, 0, {{0, 0}, {-1, 0}, {-2, 0}}},
        {0, 3, {{0, 0}, {0, 1}, {0, 2}}},
        {0, -2, {{0, 0}, {0, -1}}},
        {0, 0, {}},
        {1, 0, {{0, 0}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(line_pixels(0, 0, c.x1, c.y1), c.expected) << "to " << c.x1 << "," << c.y1;
    }
}

TEST(Raster, LineAndItsReverseCoverTheSamePixelsBetweenTheirEnds) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-20, 20);
    for (int i = 0; i < 2000; ++i) {
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        Pixels forward = line_pixels(x0, y0, x1, y1);
        Pixels backward = line_pixels(x1, y1, x0, y0);
        const size_t length = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        ASSERT_EQ(forward.size(), length); // one pixel per step, end point excluded
        ASSERT_EQ(forward.count({x1, y1}), 0u);
        if (length > 0) {
            ASSERT_EQ(forward.count({x0, y0}), 1u);
            forward.insert({x1, y1});
            backward.insert({x0, y0});
        }
        ASSERT_EQ(forward, backward) << x0 << "," << y0 << " - " << x1 << "," << y1;
    }
}

// A line cut by the view must keep exactly the pixels the uncut line has inside the view: the
// clip never moves the line. Cut lines are checked against the same line drawn whole.
TEST(Raster, ClippedLinesKeepTheirPixels) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-60, 60);
    for (int i = 0; i < 1200; ++i) {
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        Surface reference(130, 130, bg);
        raster::line(View{&reference, 0, 0, 130, 130}, x0 + 65, y0 + 65, x1 + 65, y1 + 65, ink);

        // A small window on the same plane: view (0, 0) is plane (-7, -5), 17 x 13 pixels.
        Surface cut(130, 130, bg);
        View small{&cut, 58, 60, 17, 13};
        raster::line(small, x0 + 7, y0 + 5, x1 + 7, y1 + 5, ink);
        for (int y = 0; y < 130; ++y) {
            for (int x = 0; x < 130; ++x) {
                const bool in_view = x >= 58 && x < 75 && y >= 60 && y < 73;
                const uint32_t want = in_view ? reference.at(x, y) : bg;
                ASSERT_EQ(cut.at(x, y), want) << "line " << x0 << "," << y0 << " - " << x1 << ","
                                              << y1 << " at " << x << "," << y;
            }
        }
    }
}

// Lines with both ends outside a 40 x 30 bitmap, one per octant, as Wine's GDI drew them.
TEST(Raster, LinesCutByTheViewMatchWhatWineDrew) {
    struct Case {
        int x0, y0, x1, y1;
        Pixels expected;
    };
    const Case cases[] = {
        {-35,
         20,
         71,
         41,
         {{0, 27},
          {1, 27},
          {2, 27},
          {3, 28},
          {4, 28},
          {5, 28},
          {6, 28},
          {7, 28},
          {8, 29},
          {9, 29},
          {10, 29},
          {11, 29},
          {12, 29}}},
        {-5, -1, 50, 75, {{0, 6},   {1, 7},   {2, 8},   {2, 9},   {3, 10},  {4, 11},
                          {4, 12},  {5, 13},  {6, 14},  {7, 15},  {7, 16},  {8, 17},
                          {9, 18},  {9, 19},  {10, 20}, {11, 21}, {12, 22}, {12, 23},
                          {13, 24}, {14, 25}, {15, 26}, {15, 27}, {16, 28}, {17, 29}}},
        {40, -28, -40, 71, {{17, 0}, {17, 1}, {16, 2}, {15, 3}, {14, 4}, {13, 5}, {13, 6}, {12, 7},
                            {11, 8}, {10, 9}, {9, 10}, {8, 11}, {8, 12}, {7, 13}, {6, 14}, {5, 15},
                            {4, 16}, {4, 17}, {3, 18}, {2, 19}, {1, 20}, {0, 21}, {0, 22}}},
        {77,
         -16,
         -48,
         88,
         {{38, 16},
          {39, 16},
          {37, 17},
          {36, 18},
          {35, 19},
          {34, 20},
          {32, 21},
          {33, 21},
          {31, 22},
          {30, 23},
          {29, 24},
          {28, 25},
          {26, 26},
          {27, 26},
          {25, 27},
          {24, 28},
          {23, 29}}},
        {85,
         48,
         -12,
         -28,
         {{24, 0},
          {25, 1},
          {26, 2},
          {27, 3},
          {28, 3},
          {29, 4},
          {30, 5},
          {31, 6},
          {32, 6},
          {33, 7},
          {34, 8},
          {35, 9},
          {36, 10},
          {37, 10},
          {38, 11},
          {39, 12}}},
        {9,
         42,
         -28,
         -47,
         {{0, 20},
          {0, 21},
          {1, 22},
          {1, 23},
          {2, 24},
          {2, 25},
          {2, 26},
          {3, 27},
          {3, 28},
          {4, 29}}},
        {25,
         39,
         73,
         -51,
         {{39, 12},
          {39, 13},
          {38, 14},
          {38, 15},
          {37, 16},
          {37, 17},
          {36, 18},
          {36, 19},
          {35, 20},
          {35, 21},
          {34, 22},
          {34, 23},
          {33, 24},
          {32, 25},
          {32, 26},
          {31, 27},
          {31, 28},
          {30, 29}}},
        {12,
         40,
         88,
         -29,
         {{39, 15},
          {38, 16},
          {37, 17},
          {36, 18},
          {35, 19},
          {34, 20},
          {33, 21},
          {32, 22},
          {31, 23},
          {30, 24},
          {28, 25},
          {29, 25},
          {27, 26},
          {26, 27},
          {25, 28},
          {24, 29}}},
    };
    for (const Case& c : cases) {
        Surface s(40, 30, bg);
        const View v{&s, 0, 0, 40, 30};
        raster::line(v, c.x0, c.y0, c.x1, c.y1, ink);
        EXPECT_EQ(inked(v), c.expected) << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1;
    }
}

TEST(Raster, FarAwayEndPointsAreClippedWithoutWalkingTheWholeLine) {
    Surface s(20, 20, bg);
    View v{&s, 0, 0, 20, 20};
    // A horizontal line from far outside: only row 5 inside the view, end point excluded.
    raster::line(v, 2000000000, 5, -2000000000, 5, ink);
    for (int x = 0; x < 20; ++x) {
        EXPECT_EQ(s.at(x, 5), ink);
    }
    // Extreme slopes across the whole int range must not overflow or hang.
    raster::line(v, -2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647, ink);
    raster::line(v, 2147483647, -2147483647 - 1, -2147483647 - 1, 2147483647, ink);
    raster::line(v, 0, -2147483647 - 1, 1, 2147483647, ink);
    // The diagonal through the view passes (10, 10) exactly: it is y = x.
    EXPECT_EQ(s.at(10, 10), ink);
    EXPECT_EQ(s.at(0, 0), ink);
    // A shallow line with a huge run still lands where the slope says it should.
    Surface t(20, 20, bg);
    View w{&t, 0, 0, 20, 20};
    raster::line(w, -1000000, 0, 1000000, 2, ink); // y = 1 across the middle
    for (int x = 0; x < 20; ++x) {
        EXPECT_EQ(t.at(x, 1), ink) << x;
    }
}

// The idle pane's centre line: from (91, 44) to (0, 44) in an 89 x 89 client area that sits at
// (1, 1) of a 91 x 91 window.
TEST(Raster, IdleLineCoversColumnsOneToEightyEight) {
    Surface s(91, 91, 0x000000);
    View client{&s, 1, 1, 89, 89};
    raster::fill(client, bg);
    raster::line(client, 91, 44, 0, 44, 0x000000);
    EXPECT_EQ(s.at(1, 45), bg); // client column 0 stays gray
    for (int x = 1; x <= 88; ++x) {
        EXPECT_EQ(s.at(x + 1, 45), 0u) << x;
    }
    EXPECT_EQ(s.at(90, 45), 0u); // the frame column was never painted gray
    EXPECT_EQ(s.at(0, 45), 0u);
    int gray = 0;
    for (uint32_t p : s.pixels) {
        gray += p == bg ? 1 : 0;
    }
    EXPECT_EQ(gray, 89 * 89 - 88);
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing, against Windows' GDI as much as against the software raster: pens and their handles,
// LineTo's end points and current position, SetPixel's clipping, lines clipped at the edges, and
// the two static panes pixel for pixel.
#include "tests/conformance/conformance.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

namespace c = conformance;

constexpr COLORREF gray = RGB(128, 128, 128);
constexpr COLORREF green = RGB(100, 255, 100);
constexpr COLORREF black = RGB(0, 0, 0);

// The 89 x 89 client area of a bordered 91 x 91 pane, after the gray class brush.
std::unique_ptr<c::Canvas> pane() {
    return c::make_canvas(89, 89, gray);
}

HDC bogus_dc() {
    return reinterpret_cast<HDC>(static_cast<uintptr_t>(0x7777));
}

const int reference_rows[89] = {
    44, 35, 27, 20, 14, 11, 9,  9,  10, 14, 18, 24, 30, 35, 41, 45, 48, 50, 51, 50, 49, 46, 43,
    41, 38, 37, 36, 37, 39, 42, 47, 52, 58, 64, 69, 74, 77, 79, 78, 76, 72, 66, 59, 51, 42, 34,
    26, 19, 14, 10, 8,  9,  11, 14, 19, 24, 30, 36, 41, 46, 49, 50, 51, 50, 48, 46, 43, 40, 38,
    36, 36, 37, 39, 43, 48, 53, 59, 65, 70, 74, 77, 79, 78, 76, 71, 65, 58, 50, 41};

// The reference pane's paint, call for call.
void paint_reference(HDC dc) {
    MoveToEx(dc, 91, 44, nullptr);
    LineTo(dc, 0, 44);
    HPEN pen = CreatePen(PS_SOLID, 0, RGB(100, 255, 100));
    SelectObject(dc, pen);
    for (int i = 0; i < 89; ++i) {
        LineTo(dc, i, reference_rows[i]);
    }
    HGDIOBJ previous = SelectObject(dc, GetStockObject(BLACK_PEN));
    EXPECT_EQ(previous, pen);
    EXPECT_TRUE(DeleteObject(pen));
}

TEST(Win32Gdi, StockObjectsAreStableAndSurviveDeleteObject) {
    std::set<HGDIOBJ> seen;
    for (int i = WHITE_BRUSH; i <= NULL_PEN; ++i) {
        HGDIOBJ o = GetStockObject(i);
        ASSERT_NE(o, nullptr) << i;
        EXPECT_EQ(GetStockObject(i), o);
        EXPECT_TRUE(DeleteObject(o));
        EXPECT_EQ(GetStockObject(i), o);
        seen.insert(o);
    }
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(GetStockObject(-1), nullptr);
    EXPECT_EQ(GetStockObject(9), nullptr);
    EXPECT_EQ(GetStockObject(1000), nullptr);
}

TEST(Win32Gdi, SelectObjectReturnsThePreviousPenAndRejectsBadHandles) {
    auto canvas = pane();
    HDC dc = canvas->dc();
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HPEN blue = CreatePen(PS_SOLID, 0, RGB(0, 0, 255));
    ASSERT_NE(red, nullptr);
    ASSERT_NE(red, blue);

    EXPECT_EQ(SelectObject(dc, red), GetStockObject(BLACK_PEN)); // a new DC's pen
    EXPECT_EQ(SelectObject(dc, blue), red);
    EXPECT_EQ(SelectObject(dc, blue), blue);
    // Brushes have their own slot: selecting one leaves the pen alone.
    EXPECT_EQ(SelectObject(dc, GetStockObject(GRAY_BRUSH)), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_PEN)), blue);

    EXPECT_EQ(SelectObject(dc, nullptr), nullptr);
    EXPECT_EQ(SelectObject(dc, bogus_dc()), nullptr);
    EXPECT_EQ(SelectObject(dc, dc), nullptr); // a DC is not something to select
    EXPECT_EQ(SelectObject(nullptr, red), nullptr);
    EXPECT_EQ(SelectObject(bogus_dc(), red), nullptr);

    EXPECT_TRUE(DeleteObject(red));
    EXPECT_FALSE(DeleteObject(red)); // already gone
    EXPECT_EQ(SelectObject(dc, red), nullptr);
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FALSE(DeleteObject(bogus_dc()));
    EXPECT_TRUE(DeleteObject(blue));
}

TEST(Win32Gdi, PenDeletedWhileSelectedDrawsUntilDeselected) {
    auto canvas = pane();
    HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
    SelectObject(canvas->dc(), pen);
    EXPECT_TRUE(DeleteObject(pen));
    MoveToEx(canvas->dc(), 0, 0, nullptr);
    EXPECT_TRUE(LineTo(canvas->dc(), 3, 0));
    EXPECT_EQ(canvas->at(2, 0), RGB(1, 2, 3));
    SelectObject(canvas->dc(), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(canvas->dc(), pen), nullptr) << "gone once deselected";
}

TEST(Win32Gdi, LinesUseThePenAndMoveTheCurrentPosition) {
    auto canvas = pane();
    HDC dc = canvas->dc();
    POINT previous{-1, -1};
    EXPECT_TRUE(MoveToEx(dc, 10, 10, &previous));
    EXPECT_EQ(previous.x, 0); // a new DC starts at (0, 0)
    EXPECT_EQ(previous.y, 0);
    EXPECT_TRUE(LineTo(dc, 14, 10));
    for (int x = 10; x < 14; ++x) {
        EXPECT_EQ(canvas->at(x, 10), black) << x; // stock black pen
    }
    EXPECT_EQ(canvas->at(14, 10), gray); // end point left out

    HPEN pen = CreatePen(PS_SOLID, 0, RGB(100, 255, 100));
    SelectObject(dc, pen);
    EXPECT_TRUE(LineTo(dc, 14, 13)); // from the last end point
    EXPECT_EQ(canvas->at(14, 10), green);
    EXPECT_EQ(canvas->at(14, 12), green);
    EXPECT_EQ(canvas->at(14, 13), gray);
    EXPECT_TRUE(MoveToEx(dc, 0, 0, &previous));
    EXPECT_EQ(previous.x, 14);
    EXPECT_EQ(previous.y, 13);

    // The null pen draws nothing but still moves.
    SelectObject(dc, GetStockObject(NULL_PEN));
    MoveToEx(dc, 20, 20, nullptr);
    EXPECT_TRUE(LineTo(dc, 25, 20));
    EXPECT_EQ(canvas->at(20, 20), gray);
    MoveToEx(dc, 0, 0, &previous);
    EXPECT_EQ(previous.x, 25);

    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
    EXPECT_FALSE(MoveToEx(bogus_dc(), 1, 1, &previous));
    EXPECT_FALSE(LineTo(bogus_dc(), 1, 1));
    EXPECT_FALSE(LineTo(nullptr, 1, 1));
}

// A pixel outside the picture is clipped away, yet SetPixel still answers with the colour (what
// Wine's GDI does; MSDN only says -1 "can be" the answer then). -1 means a bad DC.
TEST(Win32Gdi, SetPixelReturnsTheColourEvenWhenClippedAndMinusOneForABadDc) {
    auto canvas = pane();
    HDC dc = canvas->dc();
    EXPECT_EQ(SetPixel(dc, 44, 44, RGB(255, 255, 100)), RGB(255, 255, 100));
    EXPECT_EQ(canvas->at(44, 44), RGB(255, 255, 100));
    EXPECT_EQ(SetPixel(dc, 0, 0, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(SetPixel(dc, 88, 88, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(canvas->at(88, 88), RGB(1, 2, 3));
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {-1, 0}, {0, -1}, {89, 0}, {0, 89}, {-1000000, 5}, {5, 2000000000}}) {
        EXPECT_EQ(SetPixel(dc, x, y, RGB(9, 9, 9)), RGB(9, 9, 9)) << x << "," << y;
    }
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            EXPECT_NE(canvas->at(x, y), RGB(9, 9, 9)) << x << "," << y;
        }
    }
    EXPECT_EQ(SetPixel(bogus_dc(), 1, 1, 0), static_cast<COLORREF>(-1));
    EXPECT_EQ(SetPixel(nullptr, 1, 1, 0), static_cast<COLORREF>(-1));
}

// A line that leaves the picture is cut, not redrawn between new end points: inside, it has the
// very pixels it has in a picture large enough to hold all of it.
TEST(Win32Gdi, LinesCutAtTheEdgesKeepTheirPixels) {
    const struct {
        int x0, y0, x1, y1;
    } lines[] = {
        {-40, -7, 130, 61},  {95, -30, -20, 100}, {-1, 44, 89, 45},  {44, 200, 45, -200},
        {-300, 10, 300, 80}, {88, 88, 200, 210},  {-5, 90, 100, 87}, {3, -1000, 80, 1000},
    };
    constexpr int offset = 400;
    for (const auto& l : lines) {
        auto small = pane();
        auto large = c::make_canvas(89 + 2 * offset, 89 + 2 * offset, gray);
        MoveToEx(small->dc(), l.x0, l.y0, nullptr);
        EXPECT_TRUE(LineTo(small->dc(), l.x1, l.y1));
        MoveToEx(large->dc(), l.x0 + offset, l.y0 + offset, nullptr);
        LineTo(large->dc(), l.x1 + offset, l.y1 + offset);
        POINT at{};
        MoveToEx(small->dc(), 0, 0, &at);
        EXPECT_EQ(at.x, l.x1) << "the current position is the end point, even outside";
        EXPECT_EQ(at.y, l.y1);
        int differ = 0;
        int drawn = 0;
        for (int y = 0; y < 89; ++y) {
            for (int x = 0; x < 89; ++x) {
                const COLORREF got = small->at(x, y);
                differ += got != large->at(x + offset, y + offset);
                drawn += got == black;
            }
        }
        EXPECT_EQ(differ, 0) << l.x0 << "," << l.y0 << " to " << l.x1 << "," << l.y1;
        EXPECT_GT(drawn, 0) << l.x0 << "," << l.y0 << " to " << l.x1 << "," << l.y1;
    }
}

TEST(Win32Gdi, IdlePaneIsOneBlackLineFromColumnOne) {
    auto canvas = pane();
    MoveToEx(canvas->dc(), 91, 44, nullptr);
    EXPECT_TRUE(LineTo(canvas->dc(), 0, 44));
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            const bool on_line = y == 44 && x >= 1;
            EXPECT_EQ(canvas->at(x, y), on_line ? black : gray) << x << "," << y;
        }
    }
}

// The reference pane, pixel for pixel as Wine's GDI drew it into an 89 x 89 bitmap: green
// pixels by row; every other pixel of row 44 from column 1 on is black, the rest gray.
TEST(Win32Gdi, ReferencePaneMatchesWhatWineDrew) {
    const std::map<int, std::vector<int>> wine_green = {
        {8, {50}},
        {9, {6, 7, 49, 51}},
        {10, {5, 8, 49, 51}},
        {11, {5, 8, 49, 52}},
        {12, {5, 8, 48, 52}},
        {13, {4, 9, 48, 53}},
        {14, {4, 9, 48, 53}},
        {15, {4, 9, 48, 53}},
        {16, {4, 9, 48, 53}},
        {17, {3, 10, 47, 54}},
        {18, {3, 10, 47, 54}},
        {19, {3, 10, 47, 54}},
        {20, {3, 10, 47, 54}},
        {21, {3, 10, 47, 54}},
        {22, {3, 11, 47, 55}},
        {23, {3, 11, 46, 55}},
        {24, {2, 11, 46, 55}},
        {25, {2, 11, 46, 55}},
        {26, {2, 11, 46, 55}},
        {27, {2, 11, 46, 55}},
        {28, {2, 12, 46, 56}},
        {29, {2, 12, 46, 56}},
        {30, {2, 12, 45, 56}},
        {31, {1, 12, 45, 56}},
        {32, {1, 12, 45, 56}},
        {33, {1, 13, 45, 56}},
        {34, {1, 13, 45, 57}},
        {35, {1, 13, 45, 57}},
        {36, {1, 13, 26, 45, 57, 69, 70}},
        {37, {1, 13, 25, 27, 45, 57, 68, 71}},
        {38, {1, 13, 24, 27, 44, 57, 68, 71}},
        {39, {1, 14, 24, 28, 44, 58, 67, 72}},
        {40, {0, 14, 23, 28, 44, 58, 67, 72}},
        {41, {0, 14, 23, 29, 44, 58, 67, 72}},
        {42, {0, 14, 22, 29, 44, 58, 66, 73, 88}},
        {43, {0, 14, 22, 29, 44, 58, 66, 73, 88}},
        {44, {0, 15, 22, 29, 44, 59, 66, 73, 88}},
        {45, {15, 21, 30, 44, 59, 65, 73, 88}},
        {46, {15, 21, 30, 44, 59, 65, 74, 87}},
        {47, {16, 21, 30, 43, 59, 64, 74, 87}},
        {48, {16, 20, 30, 43, 60, 64, 74, 87}},
        {49, {16, 20, 30, 43, 60, 63, 74, 87}},
        {50, {17, 19, 31, 43, 61, 63, 74, 87}},
        {51, {18, 31, 43, 62, 75, 87}},
        {52, {31, 43, 75, 87}},
        {53, {31, 43, 75, 87}},
        {54, {31, 43, 75, 86}},
        {55, {31, 42, 75, 86}},
        {56, {32, 42, 75, 86}},
        {57, {32, 42, 76, 86}},
        {58, {32, 42, 76, 86}},
        {59, {32, 42, 76, 86}},
        {60, {32, 42, 76, 86}},
        {61, {32, 42, 76, 86}},
        {62, {33, 42, 76, 85}},
        {63, {33, 41, 77, 85}},
        {64, {33, 41, 77, 85}},
        {65, {33, 41, 77, 85}},
        {66, {33, 41, 77, 85}},
        {67, {34, 41, 77, 85}},
        {68, {34, 41, 78, 84}},
        {69, {34, 40, 78, 84}},
        {70, {34, 40, 78, 84}},
        {71, {34, 40, 78, 84}},
        {72, {35, 40, 78, 84}},
        {73, {35, 40, 79, 84}},
        {74, {35, 39, 79, 83}},
        {75, {35, 39, 79, 83}},
        {76, {36, 39, 80, 83}},
        {77, {36, 38, 80, 82}},
        {78, {36, 38, 80, 82}},
        {79, {37, 81}},
    };
    auto canvas = pane();
    paint_reference(canvas->dc());
    std::vector<COLORREF> first;
    for (int y = 0; y < 89; ++y) {
        const auto row = wine_green.find(y);
        const std::set<int> greens = row == wine_green.end()
                                         ? std::set<int>{}
                                         : std::set<int>(row->second.begin(), row->second.end());
        for (int x = 0; x < 89; ++x) {
            const COLORREF want = greens.count(x) != 0 ? green : (y == 44 && x >= 1) ? black : gray;
            EXPECT_EQ(canvas->at(x, y), want) << x << "," << y;
            first.push_back(canvas->at(x, y));
        }
    }
    // What the drawing promises in words, whatever the pixel table says.
    for (int i = 0; i < 88; ++i) {
        EXPECT_EQ(canvas->at(i, reference_rows[i]), green) << i;
    }
    EXPECT_EQ(canvas->at(88, 41), gray); // the last end point is not drawn
    EXPECT_EQ(canvas->at(0, 44), green);

    // A second paint over the first changes nothing.
    paint_reference(canvas->dc());
    std::vector<COLORREF> second;
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            second.push_back(canvas->at(x, y));
        }
    }
    EXPECT_EQ(second, first);
}

} // namespace

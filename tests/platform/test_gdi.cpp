// The drawing calls: stock objects, pens, handles, and the pixels of the two static panes.
#include "platform/gdi_internal.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

namespace {

namespace gdi = platform::gdi;
namespace raster = platform::raster;

constexpr uint32_t gray = 0x808080;
constexpr uint32_t green = 0x64FF64;

// A bordered 91 x 91 pane: its 89 x 89 client area starts at (1, 1) of the window surface.
struct Pane {
    raster::Surface surface{91, 91, 0x123456};
    raster::View client{&surface, 1, 1, 89, 89};
    HDC dc = nullptr;

    Pane() {
        gdi::fill_with_brush(client, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        dc = gdi::create_dc(client);
    }
    ~Pane() { gdi::release_dc(dc); }
    Pane(const Pane&) = delete;
    Pane& operator=(const Pane&) = delete;

    uint32_t at(int x, int y) const { return surface.at(x + 1, y + 1); }
};

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

TEST(Gdi, StockObjectsAreStableAndSurviveDeleteObject) {
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

    // Stock brushes fill with their documented colours; the hollow brush leaves the pixels.
    const std::map<int, uint32_t> colours = {{WHITE_BRUSH, 0xFFFFFF}, {LTGRAY_BRUSH, 0xC0C0C0},
                                             {GRAY_BRUSH, 0x808080},  {DKGRAY_BRUSH, 0x404040},
                                             {BLACK_BRUSH, 0x000000}, {NULL_BRUSH, 0x123456}};
    for (const auto& [index, pixel] : colours) {
        raster::Surface s(3, 3, 0x123456);
        gdi::fill_with_brush(raster::View{&s, 0, 0, 3, 3},
                             static_cast<HBRUSH>(GetStockObject(index)));
        EXPECT_EQ(s.at(2, 2), pixel) << index;
    }
    // Pens and stale handles are no brushes.
    raster::Surface s(3, 3, 0x123456);
    gdi::fill_with_brush(raster::View{&s, 0, 0, 3, 3}, GetStockObject(BLACK_PEN));
    gdi::fill_with_brush(raster::View{&s, 0, 0, 3, 3}, reinterpret_cast<HBRUSH>(bogus_dc()));
    gdi::fill_with_brush(raster::View{&s, 0, 0, 3, 3}, nullptr);
    EXPECT_EQ(s.at(1, 1), 0x123456u);
}

TEST(Gdi, SelectObjectReturnsThePreviousPenAndRejectsBadHandles) {
    const int before = gdi::live_objects();
    {
        Pane pane;
        HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
        HPEN blue = CreatePen(PS_SOLID, 0, RGB(0, 0, 255));
        ASSERT_NE(red, nullptr);
        ASSERT_NE(red, blue);
        EXPECT_EQ(gdi::live_objects(), before + 3);

        EXPECT_EQ(SelectObject(pane.dc, red), GetStockObject(BLACK_PEN)); // a new DC's pen
        EXPECT_EQ(SelectObject(pane.dc, blue), red);
        EXPECT_EQ(SelectObject(pane.dc, blue), blue);
        // Brushes have their own slot: selecting one leaves the pen alone.
        EXPECT_EQ(SelectObject(pane.dc, GetStockObject(GRAY_BRUSH)), GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(SelectObject(pane.dc, GetStockObject(WHITE_PEN)), blue);

        EXPECT_EQ(SelectObject(pane.dc, nullptr), nullptr);
        EXPECT_EQ(SelectObject(pane.dc, bogus_dc()), nullptr);
        EXPECT_EQ(SelectObject(pane.dc, pane.dc), nullptr); // a DC is no GDI object
        EXPECT_EQ(SelectObject(nullptr, red), nullptr);
        EXPECT_EQ(SelectObject(bogus_dc(), red), nullptr);
        EXPECT_EQ(CreatePen(99, 1, 0), nullptr);

        EXPECT_TRUE(DeleteObject(red));
        EXPECT_FALSE(DeleteObject(red)); // already gone
        EXPECT_EQ(SelectObject(pane.dc, red), nullptr);
        EXPECT_FALSE(DeleteObject(nullptr));
        EXPECT_FALSE(DeleteObject(bogus_dc()));
        EXPECT_TRUE(DeleteObject(blue));
    }
    EXPECT_EQ(gdi::live_objects(), before);
}

TEST(Gdi, PenDeletedWhileSelectedDrawsUntilReleased) {
    const int before = gdi::live_objects();
    {
        Pane pane;
        HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
        SelectObject(pane.dc, pen);
        EXPECT_TRUE(DeleteObject(pen));
        MoveToEx(pane.dc, 0, 0, nullptr);
        EXPECT_TRUE(LineTo(pane.dc, 3, 0));
        EXPECT_EQ(pane.at(2, 0), 0x010203u);
        EXPECT_EQ(SelectObject(pane.dc, pen), nullptr);
        EXPECT_EQ(gdi::live_objects(), before + 2);
    }
    EXPECT_EQ(gdi::live_objects(), before); // the DC took the pen with it

    // Deselecting frees it as well.
    Pane pane;
    HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
    SelectObject(pane.dc, pen);
    DeleteObject(pen);
    SelectObject(pane.dc, GetStockObject(BLACK_PEN));
    EXPECT_EQ(gdi::live_objects(), before + 1);
}

TEST(Gdi, LinesUseThePenAndMoveTheCurrentPosition) {
    Pane pane;
    POINT previous{-1, -1};
    EXPECT_TRUE(MoveToEx(pane.dc, 10, 10, &previous));
    EXPECT_EQ(previous.x, 0); // a new DC starts at (0, 0)
    EXPECT_EQ(previous.y, 0);
    EXPECT_TRUE(LineTo(pane.dc, 14, 10));
    for (int x = 10; x < 14; ++x) {
        EXPECT_EQ(pane.at(x, 10), 0u) << x; // stock black pen
    }
    EXPECT_EQ(pane.at(14, 10), gray); // end point left out

    HPEN pen = CreatePen(PS_SOLID, 0, RGB(100, 255, 100));
    SelectObject(pane.dc, pen);
    EXPECT_TRUE(LineTo(pane.dc, 14, 13)); // from the last end point
    EXPECT_EQ(pane.at(14, 10), green);
    EXPECT_EQ(pane.at(14, 12), green);
    EXPECT_EQ(pane.at(14, 13), gray);
    EXPECT_TRUE(MoveToEx(pane.dc, 0, 0, &previous));
    EXPECT_EQ(previous.x, 14);
    EXPECT_EQ(previous.y, 13);

    // The null pen draws nothing but still moves.
    SelectObject(pane.dc, GetStockObject(NULL_PEN));
    MoveToEx(pane.dc, 20, 20, nullptr);
    EXPECT_TRUE(LineTo(pane.dc, 25, 20));
    EXPECT_EQ(pane.at(20, 20), gray);
    MoveToEx(pane.dc, 0, 0, &previous);
    EXPECT_EQ(previous.x, 25);

    SelectObject(pane.dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
    EXPECT_FALSE(MoveToEx(bogus_dc(), 1, 1, &previous));
    EXPECT_FALSE(LineTo(bogus_dc(), 1, 1));
    EXPECT_FALSE(LineTo(nullptr, 1, 1));
}

TEST(Gdi, SetPixelReturnsTheColourOrMinusOneWhenClipped) {
    Pane pane;
    EXPECT_EQ(SetPixel(pane.dc, 44, 44, RGB(255, 255, 100)), RGB(255, 255, 100));
    EXPECT_EQ(pane.at(44, 44), 0xFFFF64u);
    EXPECT_EQ(SetPixel(pane.dc, 0, 0, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(SetPixel(pane.dc, 88, 88, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(pane.surface.at(89, 89), 0x010203u); // 0x00RRGGBB
    // Outside the client area, including the frame the window surface has around it.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {-1, 0}, {0, -1}, {89, 0}, {0, 89}, {-1000000, 5}, {5, 2000000000}}) {
        EXPECT_EQ(SetPixel(pane.dc, x, y, RGB(9, 9, 9)), static_cast<COLORREF>(-1))
            << x << "," << y;
    }
    for (int i = 0; i < 91; ++i) {
        EXPECT_EQ(pane.surface.at(i, 0), 0x123456u);
        EXPECT_EQ(pane.surface.at(0, i), 0x123456u);
        EXPECT_EQ(pane.surface.at(90, i), 0x123456u);
    }
    EXPECT_EQ(SetPixel(bogus_dc(), 1, 1, 0), static_cast<COLORREF>(-1));
    EXPECT_EQ(SetPixel(nullptr, 1, 1, 0), static_cast<COLORREF>(-1));
}

TEST(Gdi, ReleasedDcIsDeadAndBadReleasesAreHarmless) {
    const int before = gdi::live_objects();
    raster::Surface s(5, 5, 0);
    HDC dc = gdi::create_dc(raster::View{&s, 0, 0, 5, 5});
    EXPECT_EQ(gdi::live_objects(), before + 1);
    gdi::release_dc(dc);
    EXPECT_EQ(gdi::live_objects(), before);
    EXPECT_EQ(SetPixel(dc, 1, 1, 0xFFFFFF), static_cast<COLORREF>(-1));
    EXPECT_EQ(s.at(1, 1), 0u);
    gdi::release_dc(dc);
    gdi::release_dc(nullptr);
    gdi::release_dc(bogus_dc());
    EXPECT_EQ(gdi::live_objects(), before);
}

TEST(Gdi, IdlePaneIsOneBlackLineFromColumnOne) {
    const int before = gdi::live_objects();
    {
        Pane pane;
        MoveToEx(pane.dc, 91, 44, nullptr);
        EXPECT_TRUE(LineTo(pane.dc, 0, 44));
        for (int y = 0; y < 89; ++y) {
            for (int x = 0; x < 89; ++x) {
                const bool on_line = y == 44 && x >= 1;
                EXPECT_EQ(pane.at(x, y), on_line ? 0u : gray) << x << "," << y;
            }
        }
        EXPECT_EQ(pane.surface.at(90, 45), 0x123456u); // the frame is not the client's
    }
    EXPECT_EQ(gdi::live_objects(), before);
}

// The reference pane, pixel for pixel as Wine's GDI drew it into an 89 x 89 bitmap: green
// pixels by row; every other pixel of row 44 from column 1 on is black, the rest gray.
TEST(Gdi, ReferencePaneMatchesWhatWineDrew) {
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
    const int before = gdi::live_objects();
    {
        Pane pane;
        paint_reference(pane.dc);
        for (int y = 0; y < 89; ++y) {
            const auto row = wine_green.find(y);
            const std::set<int> greens =
                row == wine_green.end() ? std::set<int>{}
                                        : std::set<int>(row->second.begin(), row->second.end());
            for (int x = 0; x < 89; ++x) {
                const uint32_t want = greens.count(x) != 0  ? green
                                      : (y == 44 && x >= 1) ? 0u
                                                            : gray;
                EXPECT_EQ(pane.at(x, y), want) << x << "," << y;
            }
        }
        // What the drawing promises in words, whatever the pixel table says.
        for (int i = 0; i < 88; ++i) {
            EXPECT_EQ(pane.at(i, reference_rows[i]), green) << i;
        }
        EXPECT_EQ(pane.at(88, 41), gray); // the last end point is not drawn
        EXPECT_EQ(pane.at(0, 44), green);

        // A second paint over the first changes nothing.
        const std::vector<uint32_t> first = pane.surface.pixels;
        paint_reference(pane.dc);
        EXPECT_EQ(pane.surface.pixels, first);
    }
    EXPECT_EQ(gdi::live_objects(), before);
}

} // namespace

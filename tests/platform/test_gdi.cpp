// SPDX-License-Identifier: GPL-3.0-or-later
// The drawing calls over the software raster: stock brush colours, pen and DC lifetimes, and the
// frame around a pane's client area. What holds against Windows' GDI as well is in
// tests/conformance/gdi.cpp.
#include "platform/gdi_internal.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

namespace gdi = platform::gdi;
namespace raster = platform::raster;

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

TEST(Gdi, StockBrushesFillWithTheirColours) {
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

TEST(Gdi, PenDeletedWhileSelectedDrawsUntilReleased) {
    const int before = gdi::live_objects();
    {
        Pane pane;
        HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
        SelectObject(pane.dc, pen);
        EXPECT_TRUE(DeleteObject(pen)); // it still draws: conformance/gdi.cpp
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

TEST(Gdi, PixelsOutsideTheClientAreaLeaveTheFrameAlone) {
    Pane pane;
    EXPECT_EQ(SetPixel(pane.dc, 88, 88, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(pane.surface.at(89, 89), 0x010203u); // 0x00RRGGBB
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {-1, 0}, {0, -1}, {89, 0}, {0, 89}, {-1000000, 5}, {5, 2000000000}}) {
        SetPixel(pane.dc, x, y, RGB(9, 9, 9));
    }
    MoveToEx(pane.dc, -5, -1, nullptr);
    LineTo(pane.dc, 100, -1);
    LineTo(pane.dc, 89, 100);
    for (int i = 0; i < 91; ++i) {
        EXPECT_EQ(pane.surface.at(i, 0), 0x123456u);
        EXPECT_EQ(pane.surface.at(0, i), 0x123456u);
        EXPECT_EQ(pane.surface.at(90, i), 0x123456u);
    }
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

} // namespace

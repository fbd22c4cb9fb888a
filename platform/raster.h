// SPDX-License-Identifier: GPL-3.0-or-later
// A software raster: 32-bit pixel buffers and the few primitives the drawing calls need.
// Plain C++, no toolkit, so pane pixels can be checked exactly without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::raster {

// Pixels are 0x00RRGGBB, row-major, top row first.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    Surface() = default;
    Surface(int w, int h, uint32_t fill);
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A clipped view of a surface in which (0, 0) is `origin` of the surface.
struct View {
    Surface* surface = nullptr;
    int origin_x = 0;
    int origin_y = 0;
    int clip_width = 0; // the view covers [0, clip_width) x [0, clip_height)
    int clip_height = 0;
};

uint32_t from_colorref(uint32_t colorref); // COLORREF 0x00BBGGRR -> 0x00RRGGBB
uint32_t to_colorref(uint32_t pixel);

void fill(const View& view, uint32_t pixel);
bool set_pixel(const View& view, int x, int y, uint32_t pixel); // false when clipped
// A one-pixel line from (x0, y0) up to, not including, (x1, y1), with Windows' choice of
// pixels.
void line(const View& view, int x0, int y0, int x1, int y1, uint32_t pixel);

} // namespace platform::raster

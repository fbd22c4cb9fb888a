// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/raster.h"

#include <algorithm>
#include <cstdlib>

namespace platform::raster {

namespace {

// The part of a view that lies on its surface, in view coordinates: [left, right) x [top, bottom).
struct ClipRect {
    int64_t left, top, right, bottom;
    bool empty() const { return left >= right || top >= bottom; }
};

ClipRect clip_of(const View& view) {
    if (view.surface == nullptr) {
        return {0, 0, 0, 0};
    }
    const int64_t ox = view.origin_x;
    const int64_t oy = view.origin_y;
    return {std::max<int64_t>(0, -ox), std::max<int64_t>(0, -oy),
            std::min<int64_t>(view.clip_width, view.surface->width - ox),
            std::min<int64_t>(view.clip_height, view.surface->height - oy)};
}

void put(const View& view, int64_t x, int64_t y, uint32_t pixel) {
    Surface& s = *view.surface;
    const auto index = static_cast<size_t>(y + view.origin_y) * static_cast<size_t>(s.width) +
                       static_cast<size_t>(x + view.origin_x);
    s.pixels[index] = pixel;
}

uint32_t swap_red_blue(uint32_t c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

} // namespace

Surface::Surface(int w, int h, uint32_t fill)
    : width(std::max(w, 0)), height(std::max(h, 0)),
      pixels(static_cast<size_t>(width) * static_cast<size_t>(height), fill) {}

uint32_t from_colorref(uint32_t colorref) {
    return swap_red_blue(colorref & 0xFFFFFFu);
}

uint32_t to_colorref(uint32_t pixel) {
    return swap_red_blue(pixel & 0xFFFFFFu);
}

void fill(const View& view, uint32_t pixel) {
    const ClipRect c = clip_of(view);
    if (c.empty()) {
        return;
    }
    Surface& s = *view.surface;
    for (int64_t y = c.top; y < c.bottom; ++y) {
        const auto row = static_cast<size_t>(y + view.origin_y) * static_cast<size_t>(s.width);
        std::fill_n(s.pixels.begin() + static_cast<ptrdiff_t>(row + c.left + view.origin_x),
                    c.right - c.left, pixel);
    }
}

bool set_pixel(const View& view, int x, int y, uint32_t pixel) {
    const ClipRect c = clip_of(view);
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) {
        return false;
    }
    put(view, x, y, pixel);
    return true;
}

void line(const View& view, int x0, int y0, int x1, int y1, uint32_t pixel) {
    const ClipRect c = clip_of(view);
    const int64_t dx = int64_t{x1} - x0;
    const int64_t dy = int64_t{y1} - y0;
    if (c.empty() || (dx == 0 && dy == 0)) {
        return;
    }
    // Octants are numbered clockwise from +x (y grows downwards), 1 to 8. Octants 3 (down and not
    // right, steep), 5 and 6 (left and not down) and 8 (right and up, shallow) take a bias so that
    // a pixel exactly half-way always goes to the smaller minor coordinate, whichever way the line
    // runs: a line and its reverse cover the same pixels.
    const bool biased = dy > 0 ? (dx <= 0 && -dx <= dy) : (dx < 0 || dx > -dy);
    const int64_t bias = biased ? 1 : 0;
    const bool x_major = std::llabs(dx) > std::llabs(dy);

    // Walk along the major axis; the minor axis follows the error term.
    const int64_t major_len = x_major ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor_len = x_major ? std::llabs(dy) : std::llabs(dx);
    const int64_t major_step = (x_major ? dx : dy) > 0 ? 1 : -1;
    const int64_t minor_step = (x_major ? dy : dx) > 0 ? 1 : -1;
    const int64_t major0 = x_major ? x0 : y0;
    const int64_t minor0 = x_major ? y0 : x0;
    const int64_t major_lo = x_major ? c.left : c.top;
    const int64_t major_hi = x_major ? c.right : c.bottom; // exclusive

    // Pixel k of the walk (0 <= k < major_len) lies at major0 + k * major_step. Only the steps
    // whose major coordinate is inside the clip can draw: clip per pixel, but skip the rest
    // without walking it, so far-away end points cost nothing.
    const int64_t k_first =
        std::max<int64_t>(0, major_step > 0 ? major_lo - major0 : major0 - (major_hi - 1));
    const int64_t k_last =
        std::min(major_len - 1, major_step > 0 ? major_hi - 1 - major0 : major0 - major_lo);
    if (k_first > k_last) {
        return;
    }

    // After k steps the walk has made n minor steps, n = ceil((2k*minor - major + bias) /
    // 2major), and its error term is 2minor - major + 2k*minor - 2n*major. 128-bit because k and
    // the lengths may each be near 2^32.
    const __int128 two_minor = 2 * static_cast<__int128>(minor_len);
    const __int128 two_major = 2 * static_cast<__int128>(major_len);
    const __int128 n0 = (k_first * two_minor + bias + major_len - 1) / two_major;
    int64_t err =
        static_cast<int64_t>(two_minor - major_len + k_first * two_minor - n0 * two_major);
    int64_t major = major0 + k_first * major_step;
    int64_t minor = minor0 + static_cast<int64_t>(n0) * minor_step;
    const int64_t minor_lo = x_major ? c.top : c.left;
    const int64_t minor_hi = x_major ? c.bottom : c.right;

    for (int64_t k = k_first; k <= k_last; ++k) {
        if (minor >= minor_lo && minor < minor_hi) {
            if (x_major) {
                put(view, major, minor, pixel);
            } else {
                put(view, minor, major, pixel);
            }
        }
        if (err + bias > 0) {
            minor += minor_step;
            err += 2 * minor_len - 2 * major_len;
        } else {
            err += 2 * minor_len;
        }
        major += major_step;
    }
}

} // namespace platform::raster

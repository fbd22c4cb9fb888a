// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/tools/shot_check/screen.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <utility>

namespace shot_check {

namespace {

// The reference curve's rows for columns 0 to 88, as the instrument has always drawn them.
constexpr int curve_rows[pane_client_size] = {
    44, 35, 27, 20, 14, 11, 9,  9,  10, 14, 18, 24, 30, 35, 41, 45, 48, 50, 51, 50, 49, 46, 43,
    41, 38, 37, 36, 37, 39, 42, 47, 52, 58, 64, 69, 74, 77, 79, 78, 76, 72, 66, 59, 51, 42, 34,
    26, 19, 14, 10, 8,  9,  11, 14, 19, 24, 30, 36, 41, 46, 49, 50, 51, 50, 48, 46, 43, 40, 38,
    36, 36, 37, 39, 43, 48, 53, 59, 65, 70, 74, 77, 79, 78, 76, 71, 65, 58, 50, 41};

std::string where(const char* what, int x, int y, Rgb c) {
    char text[160];
    std::snprintf(text, sizeof text, "%s at pane pixel (%d, %d): RGB(%d, %d, %d)", what, x, y, c.r,
                  c.g, c.b);
    return text;
}

bool inside(const Image& image, int x, int y) {
    return x >= 0 && y >= 0 && x < image.width && y < image.height;
}

// Pixel (x, y) of the pane client area at `origin`; black outside the screen.
Rgb pane_pixel(const Image& image, Point origin, int x, int y) {
    const int sx = origin.x + x;
    const int sy = origin.y + y;
    return inside(image, sx, sy) ? image.at(sx, sy) : black;
}

Point offset(Point dialog_origin, Point pane) {
    return {dialog_origin.x + pane.x, dialog_origin.y + pane.y};
}

std::vector<Point> pixels_of(const Image& image, Point origin, Rgb colour) {
    std::vector<Point> found;
    for (int y = 0; y < pane_client_size; ++y) {
        for (int x = 0; x < pane_client_size; ++x) {
            if (pane_pixel(image, origin, x, y) == colour) {
                found.push_back({x, y});
            }
        }
    }
    return found;
}

} // namespace

bool read_ppm(const std::string& path, Image& image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> image.width >> image.height >> maxval) || magic != "P6" || maxval != 255 ||
        image.width <= 0 || image.height <= 0) {
        return false;
    }
    in.get(); // the single whitespace before the raster
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    in.read(reinterpret_cast<char*>(image.pixels.data()),
            static_cast<std::streamsize>(image.pixels.size() * 3));
    return static_cast<size_t>(in.gcount()) == image.pixels.size() * 3;
}

bool locate_dialog(const Image& image, Point& dialog_origin) {
    for (int y = 1; y + 1 < image.height; ++y) {
        for (int x = 0; x + pane_client_size <= image.width; ++x) {
            if (!(image.at(x, y) == gray) || !(image.at(x, y - 1) == gray) ||
                !(image.at(x + 44, y - 1) == gray) || !(image.at(x + 44, y + 1) == gray)) {
                continue;
            }
            bool line = true;
            for (int i = 1; i < pane_client_size && line; ++i) {
                line = image.at(x + i, y) == black;
            }
            if (line) {
                dialog_origin = {x - reference_pane_client.x,
                                 y - centre_row - reference_pane_client.y};
                return true;
            }
        }
    }
    return false;
}

std::string check_idle_pane(const Image& image, Point dialog_origin) {
    const Point o = offset(dialog_origin, reference_pane_client);
    for (int y = 0; y < pane_client_size; ++y) {
        for (int x = 0; x < pane_client_size; ++x) {
            const Rgb want = (y == centre_row && x >= 1) ? black : gray;
            const Rgb got = pane_pixel(image, o, x, y);
            if (!(got == want)) {
                return where("idle pane: wrong colour", x, y, got);
            }
        }
    }
    return {};
}

std::string check_reference_pane(const Image& image, Point dialog_origin) {
    const Point o = offset(dialog_origin, reference_pane_client);
    // Each segment's start point is drawn whatever the line algorithm; the last end point is not.
    for (int i = 0; i + 1 < pane_client_size; ++i) {
        const Rgb got = pane_pixel(image, o, i, curve_rows[i]);
        if (!(got == curve_green)) {
            return where("reference pane: curve point missing", i, curve_rows[i], got);
        }
    }
    const Rgb last = pane_pixel(image, o, 88, curve_rows[88]);
    if (!(last == gray)) {
        return where("reference pane: the curve's last end point is drawn", 88, curve_rows[88],
                     last);
    }
    for (int y = 0; y < pane_client_size; ++y) {
        for (int x = 0; x < pane_client_size; ++x) {
            const Rgb got = pane_pixel(image, o, x, y);
            const bool allowed =
                got == curve_green || got == gray || (got == black && y == centre_row);
            if (!allowed) {
                return where("reference pane: stray colour", x, y, got);
            }
        }
    }
    return {};
}

std::string check_figure_eight(const Image& image, Point dialog_origin) {
    const Point o = offset(dialog_origin, xy_pane_client);
    const std::vector<Point> points = pixels_of(image, o, point_yellow);
    char text[200];
    if (points.size() < 200) {
        std::snprintf(text, sizeof text, "XY pane: only %zu figure pixels", points.size());
        return text;
    }
    int left = pane_client_size, right = -1, top = pane_client_size, bottom = -1;
    size_t left_lobe = 0, right_lobe = 0;
    bool crosses_centre = false;
    for (const Point& p : points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
        left_lobe += p.x < 40 ? 1 : 0;
        right_lobe += p.x > 48 ? 1 : 0;
        crosses_centre = crosses_centre || (std::abs(p.x - 44) <= 2 && std::abs(p.y - 44) <= 2);
    }
    // Full-scale tones span columns and rows 10 to 77; allow a pixel for the radio path.
    const bool spans = left >= 8 && left <= 12 && right >= 75 && right <= 79 && top >= 8 &&
                       top <= 12 && bottom >= 75 && bottom <= 79;
    const bool balanced = left_lobe * 3 > points.size() && right_lobe * 3 > points.size();
    if (!spans || !balanced || !crosses_centre) {
        std::snprintf(text, sizeof text,
                      "XY pane: not the figure-eight: %zu pixels in columns %d-%d, rows %d-%d, "
                      "%zu left and %zu right of the centre, %s the centre",
                      points.size(), left, right, top, bottom, left_lobe, right_lobe,
                      crosses_centre ? "through" : "not through");
        return text;
    }
    return {};
}

std::string check_silent_xy_pane(const Image& image, Point dialog_origin) {
    const Point o = offset(dialog_origin, xy_pane_client);
    for (int y = 0; y < pane_client_size; ++y) {
        for (int x = 0; x < pane_client_size; ++x) {
            const Rgb want = (x == 43 && y == 43) ? point_yellow : gray;
            const Rgb got = pane_pixel(image, o, x, y);
            if (!(got == want)) {
                return where("silent XY pane: wrong colour", x, y, got);
            }
        }
    }
    return {};
}

std::string check_horizontal_line(const Image& image, Point dialog_origin) {
    const Point o = offset(dialog_origin, xy_pane_client);
    const std::vector<Point> points = pixels_of(image, o, point_yellow);
    // Rows 43 and 44, with a pixel's leeway for the radio path.
    int left = pane_client_size, right = -1, off_line = 0;
    bool column_used[pane_client_size] = {};
    for (const Point& p : points) {
        if (p.y < 42 || p.y > 45) {
            ++off_line;
            continue;
        }
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        column_used[p.x] = true;
    }
    int columns = 0;
    for (int x = std::max(left, 0); x <= right; ++x) {
        columns += column_used[x] ? 1 : 0;
    }
    // The pane may catch its block half refilled, the two stretches of the tone meeting with a
    // jump in phase: the filter positions across the join (15 at most) leave the line, and each
    // stretch alone covers fewer columns (never fewer than 44 of the 68).
    const bool spans = left >= 8 && left <= 12 && right >= 75 && right <= 79;
    if (!spans || off_line > 15 || columns * 2 < right - left + 1) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "XY pane: not the horizontal line: %zu pixels, %d of them off rows 42-45; "
                      "the line in columns %d-%d, %d of them used",
                      points.size(), off_line, left, right, columns);
        return text;
    }
    return {};
}

std::string check_colour_only_in(const Image& image, Rgb colour, Point pane_origin) {
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const bool in_pane = x >= pane_origin.x && y >= pane_origin.y &&
                                 x < pane_origin.x + pane_client_size &&
                                 y < pane_origin.y + pane_client_size;
            if (!in_pane && image.at(x, y) == colour) {
                return where("colour outside its pane (screen pixel)", x, y, colour);
            }
        }
    }
    return {};
}

bool is_pane_mode(const std::string& mode) {
    return mode == "idle" || mode == "playing" || mode == "silent" || mode == "f1-only";
}

std::string check_panes(const std::string& mode, const Image& image, Point dialog_origin) {
    if (!is_pane_mode(mode)) {
        return "unknown mode " + mode;
    }
    const Point xy = offset(dialog_origin, xy_pane_client);
    const Point ref = offset(dialog_origin, reference_pane_client);
    std::string problem;
    if (mode == "idle") {
        problem = check_idle_pane(image, dialog_origin);
        if (problem.empty()) {
            problem = check_silent_xy_pane(image, dialog_origin);
        }
        return problem.empty() ? check_colour_only_in(image, curve_green, ref) : problem;
    }
    problem = check_reference_pane(image, dialog_origin);
    if (problem.empty()) {
        if (mode == "playing") {
            problem = check_figure_eight(image, dialog_origin);
        } else if (mode == "silent") {
            problem = check_silent_xy_pane(image, dialog_origin);
        } else {
            problem = check_horizontal_line(image, dialog_origin);
        }
    }
    return problem.empty() ? check_colour_only_in(image, point_yellow, xy) : problem;
}

} // namespace shot_check

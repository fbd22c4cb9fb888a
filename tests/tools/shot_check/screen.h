// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the dialog's panes off a screenshot: where the dialog's client area is, and whether the
// XY, reference and idle panes show what they should.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shot_check {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb gray{128, 128, 128};
constexpr Rgb black{0, 0, 0};
constexpr Rgb point_yellow{255, 255, 100};
constexpr Rgb curve_green{100, 255, 100};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A binary PPM (P6, maxval 255). False on anything else.
bool read_ppm(const std::string& path, Image& image);

struct Point {
    int x = 0;
    int y = 0;
};

// Pane client areas, in dialog client pixels (pane at (20, 26) and (220, 26), one-pixel border).
constexpr Point xy_pane_client{21, 27};
constexpr Point reference_pane_client{221, 27};
constexpr int pane_client_size = 89;
constexpr int centre_row = 44;

// Finds the dialog's client origin on screen from the idle or reference pane's centre line
// (gray column 0, then 88 black pixels on row 44, gray above and below). False when not found.
bool locate_dialog(const Image& image, Point& dialog_origin);

// Each check returns an empty string when the picture is right, or what is wrong.
// Reference area with the idle pane: gray, black row 44 from column 1 to 88, column 0 gray.
std::string check_idle_pane(const Image& image, Point dialog_origin);
// Reference area with the reference pane: the green curve's start point of every segment, the
// last end point not drawn, nothing but gray, black and green.
std::string check_reference_pane(const Image& image, Point dialog_origin);
// XY pane showing the two-tone's figure-eight: lobes left and right, crossing at the centre.
std::string check_figure_eight(const Image& image, Point dialog_origin);
// XY pane for a silent input (bytes of 128): the one point (43, 43) on gray.
std::string check_silent_xy_pane(const Image& image, Point dialog_origin);
// XY pane for the f1 tone alone: filter B lets almost none of it through, so a full-scale sine
// is a horizontal line on rows 43 and 44 from column 10 to 77 (a few points off it where the
// pane caught its block being refilled).
std::string check_horizontal_line(const Image& image, Point dialog_origin);
// No pixel of this colour anywhere outside the given pane client area.
std::string check_colour_only_in(const Image& image, Rgb colour, Point pane_origin);

// Both panes for one state of the dialog:
//   idle     tone off: idle pane, silent XY pane, no curve anywhere
//   playing  tone on and returned: reference pane, figure-eight
//   silent   tone on, nothing returned: reference pane, the centre dot alone
//   f1-only  tone on, only the 1000 Hz tone returned: reference pane, the horizontal line
bool is_pane_mode(const std::string& mode);
std::string check_panes(const std::string& mode, const Image& image, Point dialog_origin);

} // namespace shot_check

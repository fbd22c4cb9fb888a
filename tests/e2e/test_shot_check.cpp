// SPDX-License-Identifier: GPL-3.0-or-later
// The screenshot checks, on pictures drawn here: they must find the dialog wherever it is, accept
// the right panes and point at the pixel that is wrong otherwise.
#include "tests/tools/shot_check/screen.h"

#include "dsp/bandpass.h"
#include "dsp/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <utility>

namespace {

using namespace shot_check;

constexpr Rgb face{212, 208, 200};
constexpr Point origin{57, 131};

struct Screen {
    Image image;
    Screen() {
        image.width = 640;
        image.height = 480;
        image.pixels.assign(640 * 480, black);
        fill(origin.x, origin.y, 332, 156, face);
        pane(xy_pane_client);
        pane(reference_pane_client);
    }
    void fill(int x, int y, int w, int h, Rgb c) {
        for (int j = y; j < y + h; ++j) {
            for (int i = x; i < x + w; ++i) {
                image.pixels[static_cast<size_t>(j) * image.width + i] = c;
            }
        }
    }
    void set(Point pane_client, int x, int y, Rgb c) {
        fill(origin.x + pane_client.x + x, origin.y + pane_client.y + y, 1, 1, c);
    }
    void pane(Point client) {
        fill(origin.x + client.x - 1, origin.y + client.y - 1, 91, 91, black);
        fill(origin.x + client.x, origin.y + client.y, 89, 89, gray);
    }
    void idle_line() {
        for (int x = 1; x < 89; ++x) {
            set(reference_pane_client, x, 44, black);
        }
    }
};

// The curve's rows from the reference pane's formula, independently of the table in the checker.
int curve_row(int i) {
    return static_cast<int>(44.0 - 20.0 * std::sin(0.9 * i / 6.283185) -
                            20.0 * std::sin(1.8 * i / 6.283185));
}

// Start point of every segment plus a vertical run towards the next one: a fair stand-in for
// any line algorithm.
void draw_curve(Screen& s) {
    for (int i = 0; i < 88; ++i) {
        const int a = curve_row(i), b = curve_row(i + 1);
        for (int y = std::min(a, b); y <= std::max(a, b); ++y) {
            if (y != b || i + 1 == 88) {
                s.set(reference_pane_client, i, y, curve_green);
            }
        }
        s.set(reference_pane_client, i, a, curve_green);
    }
    s.set(reference_pane_client, 88, curve_row(88), gray);
}

void draw_points(Screen& s, const unsigned char* block) {
    dsp::XYPoint points[dsp::xy_point_count];
    dsp::compute_points(block, points);
    for (const dsp::XYPoint& p : points) {
        if (p.x >= 0 && p.y >= 0 && p.x < 89 && p.y < 89) {
            s.set(xy_pane_client, p.x, p.y, point_yellow);
        }
    }
}

TEST(ShotCheck, FindsTheDialogAnywhereFromTheCentreLine) {
    Screen s;
    s.idle_line();
    Point found;
    ASSERT_TRUE(locate_dialog(s.image, found));
    EXPECT_EQ(found.x, origin.x);
    EXPECT_EQ(found.y, origin.y);

    Screen blank; // panes but no centre line yet: nothing to go by
    EXPECT_FALSE(locate_dialog(blank.image, found));
}

TEST(ShotCheck, IdlePaneAndSilentFigure) {
    Screen s;
    s.idle_line();
    s.set(xy_pane_client, 43, 43, point_yellow);
    EXPECT_EQ(check_idle_pane(s.image, origin), "");
    EXPECT_EQ(check_silent_xy_pane(s.image, origin), "");

    Screen through_end = s; // the line drawn through its end point, column 0
    through_end.set(reference_pane_client, 0, 44, black);
    EXPECT_NE(check_idle_pane(through_end.image, origin).find("(0, 44)"), std::string::npos);

    Screen extra = s; // silence must map to the single point (43, 43)
    extra.set(xy_pane_client, 44, 44, point_yellow);
    EXPECT_NE(check_silent_xy_pane(extra.image, origin).find("(44, 44)"), std::string::npos);

    Screen curve_left = s; // a reference pane still showing while the tone is off
    curve_left.set(reference_pane_client, 10, 14, curve_green);
    EXPECT_NE(check_idle_pane(curve_left.image, origin), "");
}

TEST(ShotCheck, ReferenceCurve) {
    Screen s;
    s.idle_line();
    draw_curve(s);
    EXPECT_EQ(check_reference_pane(s.image, origin), "");

    Screen last_drawn = s;
    last_drawn.set(reference_pane_client, 88, curve_row(88), curve_green);
    EXPECT_NE(check_reference_pane(last_drawn.image, origin).find("last end point"),
              std::string::npos);

    Screen gap = s;
    gap.set(reference_pane_client, 40, curve_row(40), gray);
    EXPECT_NE(check_reference_pane(gap.image, origin).find("missing"), std::string::npos);

    Screen stray = s;
    stray.set(reference_pane_client, 3, 80, point_yellow);
    EXPECT_NE(check_reference_pane(stray.image, origin).find("stray"), std::string::npos);
}

// What the input is in each state: the returned two-tone, silence, the f1 tone alone from `phase`
// (with some of f2 leaking in, when `f2_amplitude` is not 0).
struct Input {
    unsigned char block[dsp::capture_block_bytes];
};
Input two_tone(size_t start) {
    unsigned char tone[dsp::tone_block_bytes];
    double phase = 0.0;
    dsp::synthesize(tone, sizeof tone, dsp::base_frequency_hz, phase);
    Input in;
    std::copy_n(tone + start, sizeof in.block, in.block);
    return in;
}
Input silence() {
    Input in;
    std::fill_n(in.block, sizeof in.block, 128);
    return in;
}
Input f1_alone(double f2_amplitude = 0.0, double phase = 0.0) {
    Input in;
    double p = phase;
    for (unsigned char& b : in.block) {
        b = static_cast<unsigned char>(
            static_cast<int>(63.0 * std::sin(p) + f2_amplitude * std::sin(2.0 * p) + 127.0));
        p += dsp::base_frequency_hz * dsp::two_pi / dsp::sample_rate_hz;
    }
    return in;
}

TEST(ShotCheck, FiguresFromTheFilteredInput) {
    Screen eight;
    draw_points(eight, two_tone(0).block);
    EXPECT_EQ(check_figure_eight(eight.image, origin), "");
    Screen later; // any stretch of the tone traces the same figure
    draw_points(later, two_tone(1234).block);
    EXPECT_EQ(check_figure_eight(later.image, origin), "");
    EXPECT_NE(check_horizontal_line(eight.image, origin), "");

    Screen line;
    draw_points(line, f1_alone().block);
    EXPECT_EQ(check_horizontal_line(line.image, origin), "");
    EXPECT_NE(check_figure_eight(line.image, origin), "");

    Screen dot;
    draw_points(dot, silence().block);
    EXPECT_NE(check_figure_eight(dot.image, origin), "");
    EXPECT_NE(check_horizontal_line(dot.image, origin), "");

    Screen leak; // a little of f2 bends the line
    draw_points(leak, f1_alone(8.0).block);
    EXPECT_NE(check_horizontal_line(leak.image, origin).find("rows"), std::string::npos);
    // The pane reads its block while it is refilled: the newer stretch of the tone meets the
    // older one with a jump in phase, and the positions across the join leave the line.
    Input half_refilled = f1_alone();
    const Input older = f1_alone(0.0, 2.5);
    std::copy_n(older.block + 300, sizeof older.block - 300, half_refilled.block + 300);
    Screen joined;
    draw_points(joined, half_refilled.block);
    int off_line = 0;
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            const Point at{origin.x + xy_pane_client.x + x, origin.y + xy_pane_client.y + y};
            off_line += (y < 42 || y > 45) && joined.image.at(at.x, at.y) == point_yellow ? 1 : 0;
        }
    }
    EXPECT_GT(off_line, 0);
    EXPECT_EQ(check_horizontal_line(joined.image, origin), "");
    Screen sparse = line;
    for (int x = 20; x < 60; ++x) {
        for (int y = 0; y < 89; ++y) {
            sparse.set(xy_pane_client, x, y, gray);
        }
    }
    EXPECT_NE(check_horizontal_line(sparse.image, origin).find("28 of them used"),
              std::string::npos);
}

TEST(ShotCheck, EachModeAcceptsOnlyItsOwnState) {
    auto with_tone_on = [](const Input& in) {
        Screen s;
        s.idle_line();
        draw_curve(s);
        draw_points(s, in.block);
        return s;
    };
    Screen idle;
    idle.idle_line();
    draw_points(idle, silence().block);
    const std::pair<const char*, Screen> states[] = {
        {"idle", idle},
        {"playing", with_tone_on(two_tone(0))},
        {"silent", with_tone_on(silence())},
        {"f1-only", with_tone_on(f1_alone())},
    };
    for (const auto& [mode, unused] : states) {
        for (const auto& [state, screen] : states) {
            EXPECT_EQ(check_panes(mode, screen.image, origin).empty(), std::string(mode) == state)
                << "mode " << mode << " on the " << state << " screen";
        }
    }
    EXPECT_FALSE(is_pane_mode("button"));
    EXPECT_NE(check_panes("button", idle.image, origin), "");
}

TEST(ShotCheck, ColourOutsideItsPane) {
    Screen s;
    s.set(xy_pane_client, 10, 10, point_yellow);
    const Point xy{origin.x + xy_pane_client.x, origin.y + xy_pane_client.y};
    EXPECT_EQ(check_colour_only_in(s.image, point_yellow, xy), "");
    s.set(reference_pane_client, 10, 10, point_yellow);
    EXPECT_NE(check_colour_only_in(s.image, point_yellow, xy), "");
}

TEST(ShotCheck, ReadsOnlyEightBitBinaryPictures) {
    const std::string path = testing::TempDir() + "shot_check_test.ppm";
    auto write = [&](const std::string& header, size_t bytes) {
        std::ofstream out(path, std::ios::binary);
        out << header;
        out << std::string(bytes, '\x80');
    };
    Image image;
    write("P6\n2 3\n255\n", 18);
    ASSERT_TRUE(read_ppm(path, image));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 3);
    EXPECT_TRUE(image.at(1, 2) == gray);
    write("P6\n2 3\n255\n", 17); // cut short
    EXPECT_FALSE(read_ppm(path, image));
    write("P6\n2 3\n65535\n", 36); // sixteen bits a sample, as ImageMagick writes by default
    EXPECT_FALSE(read_ppm(path, image));
    std::remove(path.c_str());
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// What the meter shows: the readout in seven-segment figures, the level bar, the drift plot of
// the session, and the texts beside them. Everything is drawn in one-pixel lines.
#include "meter/meter.h"

#include "app/tavrene.h"
#include "panes/panes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// Places of the panes' top left corners in dialog units, beside the texts of meter/meter.rc, and
// their sizes in pixels (1.5 pixels a unit with a 12 px dialog font). A font of another height
// (a stand-in for the template's, or another resolution) moves the texts: the corners follow,
// scaled as the dialog's own size of 300 units across and dialog_height_units() down.
constexpr int dialog_width_units = 300;
constexpr int readout_x = 8, readout_y = 6, readout_width = 243, readout_height = 57;
constexpr int plot_x = 8, plot_y = 56; // the XY pane, then the drift plot right of it
constexpr int drift_x = 74, drift_width = 243, drift_height = 91;
constexpr int level_x = 38, level_y = 134, level_width = 258, level_height = 15;

constexpr COLORREF figure_color = RGB(255, 190, 40);
constexpr COLORREF level_color = RGB(80, 220, 80);
constexpr COLORREF warning_color = RGB(255, 60, 60);
constexpr COLORREF peak_color = RGB(255, 255, 255);
constexpr COLORREF zero_line_color = RGB(110, 110, 110);
constexpr COLORREF drift_color = RGB(255, 255, 100);

// Seven-segment figures: a digit's cell, the stroke (lines side by side) and the advance.
constexpr int digit_width = 20, digit_height = 40, stroke = 4;
constexpr int digit_advance = 30, point_advance = 10;

// Drift plot: 240 pixel columns. It keeps the whole session up to an hour, a reading column
// every half second, and widens its span as the session grows: each pixel then stands for 1, 5
// or 30 of them.
constexpr int drift_columns = 240;
constexpr int drift_ticks_per_second = 2;
struct DriftSpan {
    int minutes;
    const char* label;
};
constexpr DriftSpan drift_spans[] = {
    {2, "df, last 2 min"}, {10, "df, last 10 min"}, {60, "df, last 1 h"}};
constexpr int drift_history = 60 * 60 * drift_ticks_per_second; // an hour of half seconds
constexpr double smallest_scale_hz = 0.01;

HWND readout_pane = nullptr;
HWND level_pane = nullptr;
HWND drift_pane = nullptr;

char readout_text[16] = "-";
double level_rms = 0.0;
int level_peak = 0;
bool level_warning = false;
dsp::Verdict shown_verdict = dsp::Verdict::no_signal;

struct DriftColumn {
    bool has = false;
    double low = 0.0;
    double high = 0.0;
};
DriftColumn drift[drift_history];
int64_t drift_ticks = 0; // half seconds since the meter started; the ring's next at its modulo
DriftColumn gathering;   // readings of the current half second
double drift_scale_hz = smallest_scale_hz;
const DriftSpan* drift_span = &drift_spans[0];
ReadingSource shown_source = ReadingSource::heard;

// The span that holds the whole session so far, up to the last.
const DriftSpan& span_for(int64_t ticks) {
    for (const DriftSpan& s : drift_spans) {
        if (ticks <= int64_t{s.minutes} * 60 * drift_ticks_per_second) {
            return s;
        }
    }
    return drift_spans[std::size(drift_spans) - 1];
}

// Pixel column `x` (0 at the left, drift_columns - 1 the newest): the half seconds it stands
// for, joined.
DriftColumn drift_pixel(int x) {
    const int per_pixel = drift_span->minutes * 60 * drift_ticks_per_second / drift_columns;
    const int64_t end = drift_ticks - int64_t{drift_columns - 1 - x} * per_pixel;
    DriftColumn joined;
    for (int64_t t = std::max<int64_t>(end - per_pixel, 0); t < end; ++t) {
        const DriftColumn& c = drift[t % drift_history];
        if (c.has) {
            joined.low = joined.has ? std::min(joined.low, c.low) : c.low;
            joined.high = joined.has ? std::max(joined.high, c.high) : c.high;
            joined.has = true;
        }
    }
    return joined;
}

void invalidate(HWND pane) {
    if (pane == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(pane, &client);
    InvalidateRect(pane, &client, TRUE);
}

HWND create_pane(HWND dialog, const char* pane_class, int x_units, int y_units, int width,
                 int height) {
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    RECT client;
    GetClientRect(dialog, &client);
    const int x = (x_units * client.right + dialog_width_units / 2) / dialog_width_units;
    const int y = (y_units * client.bottom + dialog_height_units() / 2) / dialog_height_units();
    return CreateWindowExA(0, pane_class, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, x, y, width,
                           height, dialog, nullptr, instance, nullptr);
}

// LineTo leaves the end point out: every stroke here ends one pixel further.
void line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1 + (x1 > x0) - (x1 < x0), y1 + (y1 > y0) - (y1 < y0));
}

void horizontal_bar(HDC dc, int x0, int x1, int centre_y) {
    for (int i = 0; i < stroke; ++i) {
        line(dc, x0, centre_y - stroke / 2 + i, x1, centre_y - stroke / 2 + i);
    }
}

void vertical_bar(HDC dc, int centre_x, int y0, int y1) {
    for (int i = 0; i < stroke; ++i) {
        line(dc, centre_x - stroke / 2 + i, y0, centre_x - stroke / 2 + i, y1);
    }
}

// Segments a to g as bits 0 to 6, the usual order: a top, b top right, c bottom right, d bottom,
// e bottom left, f top left, g middle.
constexpr unsigned char digit_segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                              0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void draw_segments(HDC dc, int x, int y, unsigned segments) {
    const int half = digit_height / 2;
    const int inset = stroke / 2 + 1; // a gap where two segments meet
    const int left = x + stroke / 2, right = x + digit_width - stroke / 2;
    const int top = y + stroke / 2, middle = y + half, bottom = y + digit_height - stroke / 2;
    // In the order of the bits, a to g.
    struct Segment {
        bool horizontal;
        int at, from, to;
    };
    const Segment all[7] = {
        {true, top, left + inset, right - inset},       {false, right, top + inset, middle - inset},
        {false, right, middle + inset, bottom - inset}, {true, bottom, left + inset, right - inset},
        {false, left, middle + inset, bottom - inset},  {false, left, top + inset, middle - inset},
        {true, middle, left + inset, right - inset},
    };
    for (int i = 0; i < 7; ++i) {
        const Segment& g = all[i];
        if ((segments & (1u << i)) == 0) {
            continue;
        }
        if (g.horizontal) {
            horizontal_bar(dc, g.from, g.to, g.at);
        } else {
            vertical_bar(dc, g.at, g.from, g.to);
        }
    }
}

// One character of a reading at (x, y), the top left of its cell; returns the advance.
int draw_character(HDC dc, int x, int y, char c) {
    if (c >= '0' && c <= '9') {
        draw_segments(dc, x, y, digit_segments[c - '0']);
        return digit_advance;
    }
    if (c == '.') {
        for (int i = 0; i < stroke; ++i) {
            line(dc, x, y + digit_height - stroke + i, x + stroke - 1,
                 y + digit_height - stroke + i);
        }
        return point_advance;
    }
    if (c == '+' || c == '-') {
        horizontal_bar(dc, x + 2, x + digit_width - 2, y + digit_height / 2);
        if (c == '+') {
            vertical_bar(dc, x + digit_width / 2, y + digit_height / 2 - 8,
                         y + digit_height / 2 + 8);
        }
        return digit_advance;
    }
    return digit_advance;
}

int text_width(const char* text) {
    int width = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        width += *c == '.' ? point_advance : digit_advance;
    }
    return width - (digit_advance - digit_width); // the last cell ends at its figure
}

LRESULT CALLBACK readout_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg != WM_PAINT) {
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(pane, &paint);
    RECT client;
    GetClientRect(pane, &client);
    HPEN pen = CreatePen(PS_SOLID, 0, figure_color);
    SelectObject(dc, pen);
    const int y = (client.bottom - digit_height) / 2;
    // Right-aligned, so the decimal point stays in place; the dash alone stands in the middle.
    int x = std::strcmp(readout_text, "-") == 0 ? (client.right - digit_width) / 2
                                                : client.right - 8 - text_width(readout_text);
    for (const char* c = readout_text; *c != '\0'; ++c) {
        x += draw_character(dc, x, y, *c);
    }
    DeleteObject(SelectObject(dc, GetStockObject(BLACK_PEN)));
    return EndPaint(pane, &paint);
}

LRESULT CALLBACK level_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg != WM_PAINT) {
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(pane, &paint);
    RECT client;
    GetClientRect(pane, &client);
    // The 8-bit scale: 0 to 128 steps from the middle value across the bar.
    const auto at = [&](double steps) {
        return static_cast<int>(
            std::lround(std::clamp(steps, 0.0, 128.0) * (client.right - 1) / 128.0));
    };
    HPEN pen = CreatePen(PS_SOLID, 0, level_warning ? warning_color : level_color);
    HGDIOBJ old = SelectObject(dc, pen);
    const int rms_x = at(level_rms);
    for (int row = 2; row < client.bottom - 2 && rms_x > 0; ++row) {
        line(dc, 0, row, rms_x, row);
    }
    DeleteObject(SelectObject(dc, old));
    if (level_peak > 0) {
        pen = CreatePen(PS_SOLID, 0, level_warning ? warning_color : peak_color);
        old = SelectObject(dc, pen);
        const int peak_x = at(level_peak);
        line(dc, peak_x, 0, peak_x, client.bottom - 1);
        DeleteObject(SelectObject(dc, old));
    }
    return EndPaint(pane, &paint);
}

int drift_row(double hz, int centre, int half_height) {
    const double rows = hz / drift_scale_hz * half_height;
    return centre -
           static_cast<int>(std::lround(std::clamp(rows, -1.0 * half_height, 1.0 * half_height)));
}

LRESULT CALLBACK drift_proc(HWND pane, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg != WM_PAINT) {
        return DefWindowProcA(pane, msg, wparam, lparam);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(pane, &paint);
    RECT client;
    GetClientRect(pane, &client);
    const int centre = client.bottom / 2;
    const int half_height = centre - 1;
    HPEN pen = CreatePen(PS_SOLID, 0, zero_line_color);
    HGDIOBJ old = SelectObject(dc, pen);
    line(dc, 0, centre, client.right - 1, centre);
    DeleteObject(SelectObject(dc, old));
    pen = CreatePen(PS_SOLID, 0, drift_color);
    old = SelectObject(dc, pen);
    // Oldest column at the left; the newest ends at the right edge.
    const int first_x = client.right - drift_columns;
    int previous_row = -1;
    for (int i = 0; i < drift_columns; ++i) {
        const DriftColumn c = drift_pixel(i);
        const int x = first_x + i;
        if (!c.has) {
            previous_row = -1;
            continue;
        }
        int top = drift_row(c.high, centre, half_height);
        int bottom = drift_row(c.low, centre, half_height);
        // Joined to the column before, so a steady drift reads as one trace.
        if (previous_row >= 0) {
            top = std::min(top, previous_row);
            bottom = std::max(bottom, previous_row);
        }
        line(dc, x, top, x, bottom);
        previous_row = drift_row((c.low + c.high) / 2, centre, half_height);
    }
    DeleteObject(SelectObject(dc, old));
    return EndPaint(pane, &paint);
}

// The smallest of 0.01, 0.02, 0.05, 0.1, ... Hz that holds every reading on the plot.
double drift_scale() {
    double largest = 0.0;
    for (int x = 0; x < drift_columns; ++x) {
        if (const DriftColumn c = drift_pixel(x); c.has) {
            largest = std::max({largest, std::fabs(c.low), std::fabs(c.high)});
        }
    }
    double scale = smallest_scale_hz;
    for (int step = 0; scale < largest && step < 40; ++step) {
        scale *= (step % 3 == 1) ? 2.5 : 2.0;
    }
    return scale;
}

void show_drift_scale(HWND dialog) {
    char text[32];
    std::snprintf(text, sizeof text, "+%.3f", drift_scale_hz);
    SetDlgItemTextA(dialog, drift_top_text_id, text);
    text[0] = '-';
    SetDlgItemTextA(dialog, drift_bottom_text_id, text);
}

} // namespace

bool register_meter_classes(HINSTANCE instance) {
    return register_pane_class(instance, xy_pane_class, xy_scope_proc) &&
           register_pane_class(instance, "MeterReadout", readout_proc, BLACK_BRUSH) &&
           register_pane_class(instance, "MeterLevel", level_proc, BLACK_BRUSH) &&
           register_pane_class(instance, "MeterDrift", drift_proc, BLACK_BRUSH);
}

void display_create(HWND dialog) {
    // A new session: its drift plot starts empty, on the shortest span.
    std::fill(std::begin(drift), std::end(drift), DriftColumn{});
    drift_ticks = 0;
    gathering = DriftColumn{};
    drift_span = &drift_spans[0];
    shown_source = ReadingSource::heard;
    readout_pane =
        create_pane(dialog, "MeterReadout", readout_x, readout_y, readout_width, readout_height);
    xy_pane = create_pane(dialog, xy_pane_class, plot_x, plot_y, pane_size, pane_size);
    drift_pane = create_pane(dialog, "MeterDrift", drift_x, plot_y, drift_width, drift_height);
    level_pane = create_pane(dialog, "MeterLevel", level_x, level_y, level_width, level_height);
    show_drift_scale(dialog);
}

void display_reading(HWND dialog, const dsp::DfReading& reading) {
    char text[sizeof readout_text];
    if (reading.has_df) {
        // What rounds to zero is zero beat: no sign to flicker between "-0.000" and "+0.000".
        if (std::fabs(reading.df_hz) < 0.0005) {
            std::snprintf(text, sizeof text, "0.000");
        } else {
            std::snprintf(text, sizeof text, "%+.3f", reading.df_hz);
        }
        gathering.low = gathering.has ? std::min(gathering.low, reading.df_hz) : reading.df_hz;
        gathering.high = gathering.has ? std::max(gathering.high, reading.df_hz) : reading.df_hz;
        gathering.has = true;
    } else {
        std::snprintf(text, sizeof text, "-");
    }
    if (std::strcmp(text, readout_text) != 0) {
        std::snprintf(readout_text, sizeof readout_text, "%s", text);
        invalidate(readout_pane);
    }
    if (reading.verdict != shown_verdict) {
        shown_verdict = reading.verdict;
        SetDlgItemTextA(dialog, verdict_text_id, dsp::verdict_text(reading.verdict));
    }
    level_rms = reading.rms;
    level_peak = reading.peak;
    level_warning =
        reading.verdict == dsp::Verdict::clipping || reading.verdict == dsp::Verdict::level_too_low;
    invalidate(level_pane);
}

void display_tick(HWND dialog) {
    drift[drift_ticks % drift_history] = gathering;
    ++drift_ticks;
    gathering = DriftColumn{};
    if (const DriftSpan& span = span_for(drift_ticks); &span != drift_span) {
        drift_span = &span;
        SetDlgItemTextA(dialog, drift_span_text_id, span.label);
    }
    invalidate(drift_pane);
    if (const ReadingSource source = reading_source(); source != shown_source) {
        shown_source = source;
        SetDlgItemTextA(dialog, source_text_id,
                        source == ReadingSource::own ? "Own tone" : "Heard tone");
    }
    const double scale = drift_scale();
    if (scale != drift_scale_hz) {
        drift_scale_hz = scale;
        show_drift_scale(dialog);
    }
    char text[48];
    std::snprintf(text, sizeof text, "rms %.1f peak %d", level_rms, level_peak);
    SetDlgItemTextA(dialog, level_text_id, text);
}

void display_forget(HWND dialog) {
    display_reading(dialog, dsp::DfReading{});
}

int dialog_height_units() {
    return meter_options.rig ? 204 : 176;
}

void display_message(HWND dialog, const std::string& text) {
    SetDlgItemTextA(dialog, message_text_id, text.c_str());
}

// SPDX-License-Identifier: GPL-3.0-or-later
// What the meter shows: the readout in seven-segment figures, the level bar, the drift plot of
// the session, and the texts beside them. Everything is drawn in one-pixel lines.
//
// The readout shows figures only: a reading's number, or a dash. Words go to the texts: the
// verdict text says the two-tone's verdict or the voice's state ("Listening...", "Ambiguous"),
// and the message line below the level bar the voice reading in full ("+13.7 Hz +- 0.6",
// "Ambiguous: +12.4 or -107.6 Hz"), above a message such as a log's failure.
#include "meter/meter.h"

#include "app/tavrene.h"
#include "panes/panes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

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
std::string shown_verdict = "No signal";
std::string voice_message; // the first line of the message text
std::string message;       // display_message's, below it

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

// LineTo leaves the end point out: every stroke here ends one pixel further, and a stroke of one
// point (a steady reading's column of the drift plot) is that pixel.
void line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    const int point = x0 == x1 && y0 == y1 ? 1 : 0;
    LineTo(dc, x1 + (x1 > x0) - (x1 < x0), y1 + (y1 > y0) - (y1 < y0) + point);
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

// In hertz, with no more figures than the scale has ("+10 Hz", "+0.05 Hz"): a fixed three
// decimals read as thousands.
void show_drift_scale(HWND dialog) {
    char text[32];
    std::snprintf(text, sizeof text, "+%g Hz", drift_scale_hz);
    SetDlgItemTextA(dialog, drift_top_text_id, text);
    text[0] = '-';
    SetDlgItemTextA(dialog, drift_bottom_text_id, text);
}

void set_text(HWND dialog, int id, std::string& shown, const std::string& text) {
    if (text != shown) {
        shown = text;
        SetDlgItemTextA(dialog, id, text.c_str());
    }
}

void show_message(HWND dialog) {
    std::string text = voice_message;
    text += !text.empty() && !message.empty() ? "\n" : "";
    text += message;
    SetDlgItemTextA(dialog, message_text_id, text.c_str());
}

const char* source_label(ReadingSource source) {
    switch (source) {
    case ReadingSource::own:
        return "Own tone";
    case ReadingSource::heard:
        return "Heard tone";
    case ReadingSource::voice:
        break;
    }
    return "Heard voice";
}

void show_source(HWND dialog, ReadingSource source) {
    if (source != shown_source) {
        shown_source = source;
        SetDlgItemTextA(dialog, source_text_id, source_label(source));
    }
}

// The figures of a reading, `decimals` after the point; what rounds to zero has no sign to
// flicker between "-0.000" and "+0.000".
void readout_figures(char* text, size_t size, double hz, int decimals) {
    if (std::fabs(hz) < 0.5 * std::pow(10.0, -decimals)) {
        std::snprintf(text, size, "%.*f", decimals, 0.0);
    } else {
        std::snprintf(text, size, "%+.*f", decimals, hz);
    }
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
    drift_scale_hz = smallest_scale_hz;
    shown_source = ReadingSource::heard;
    shown_verdict = "No signal";
    voice_message.clear();
    message.clear();
    readout_pane =
        create_pane(dialog, "MeterReadout", readout_x, readout_y, readout_width, readout_height);
    xy_pane = create_pane(dialog, xy_pane_class, plot_x, plot_y, pane_size, pane_size);
    drift_pane = create_pane(dialog, "MeterDrift", drift_x, plot_y, drift_width, drift_height);
    level_pane = create_pane(dialog, "MeterLevel", level_x, level_y, level_width, level_height);
    show_drift_scale(dialog);
}

std::string voice_reading_text(const dsp::VoiceReading& voice) {
    char text[32];
    if (voice.state == dsp::VoiceState::reading) {
        char uncertainty[32];
        readout_figures(text, sizeof text, voice.df_hz, 1);
        std::snprintf(uncertainty, sizeof uncertainty, "%.1f", voice.uncertainty_hz);
        return std::string(text) + " Hz +- " + uncertainty;
    }
    if (voice.state != dsp::VoiceState::ambiguous) {
        return dsp::voice_state_text(voice.state);
    }
    std::string words = "Ambiguous: ";
    const int count = std::clamp(voice.candidate_count, 0, dsp::VoiceReading::max_candidates);
    for (int i = 0; i < count; ++i) {
        readout_figures(text, sizeof text, voice.candidates_hz[i], 1);
        words += (i == 0 ? "" : i == count - 1 ? " or " : ", ") + std::string(text);
    }
    return words + " Hz";
}

void display_reading(HWND dialog, const dsp::DfReading& reading, const dsp::VoiceReading& voice,
                     ReadingSource source) {
    const bool of_voice = source == ReadingSource::voice;
    const bool has_df = of_voice ? voice.state == dsp::VoiceState::reading : reading.has_df;
    const double df_hz = of_voice ? voice.df_hz : reading.df_hz;
    char text[sizeof readout_text] = "-";
    if (has_df) {
        // The voice to a tenth of a hertz: its uncertainty is tenths at best.
        readout_figures(text, sizeof text, df_hz, of_voice ? 1 : 3);
        gathering.low = gathering.has ? std::min(gathering.low, df_hz) : df_hz;
        gathering.high = gathering.has ? std::max(gathering.high, df_hz) : df_hz;
        gathering.has = true;
    }
    if (std::strcmp(text, readout_text) != 0) {
        std::snprintf(readout_text, sizeof readout_text, "%s", text);
        invalidate(readout_pane);
    }
    show_source(dialog, source);
    set_text(dialog, verdict_text_id, shown_verdict,
             of_voice ? dsp::voice_state_text(voice.state) : dsp::verdict_text(reading.verdict));
    // Only what the verdict text cannot hold: the reading with its uncertainty, the candidates.
    const bool detail = of_voice && (voice.state == dsp::VoiceState::reading ||
                                     voice.state == dsp::VoiceState::ambiguous);
    if (const std::string line = detail ? voice_reading_text(voice) : ""; line != voice_message) {
        voice_message = line;
        show_message(dialog);
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
    show_source(dialog, reading_source());
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
    display_reading(dialog, dsp::DfReading{}, dsp::VoiceReading{}, reading_source());
}

int dialog_height_units() {
    return meter_options.rig ? 204 : 176;
}

void display_message(HWND dialog, const std::string& text) {
    message = text;
    show_message(dialog);
}

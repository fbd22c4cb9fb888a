// SPDX-License-Identifier: GPL-3.0-or-later
// latency_probe repaints SECONDS       XY pane repaints per second, tone on, host audio
// latency_probe press-to-figure TRIALS On press to the first repaint showing the figure, host audio
// latency_probe input-to-pixel TRIALS  input step to the repaint showing it, simulated path
//
// The application in process with the real clock, on the toolkit platform the environment names
// (xcb under a display, as the program runs). Each repaint of the XY pane is caught as it happens
// by running the loop one unit of work at a time and reading the pane's paint counter; what the
// repaint drew is read from the pane's pixels. "Shows the figure" means the drawn points span at
// least half the width the steady figure spans. Prints one line per trial and then
// "median NAME VALUE"; exit 1 when something did not happen in time.
#include "app/tavrene.h"
#include "audio/tone.h"
#include "platform/host.h"
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/wave_backend.h"
#include "sim/radio_path.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t yellow = 0xFFFF64;

// Columns between the leftmost and rightmost point of the XY figure now on view.
int figure_span(HWND pane) {
    const auto* pixels = platform::testing::window_pixels(pane);
    if (pixels == nullptr) {
        return 0;
    }
    int left = 89;
    int right = -1;
    for (int y = 1; y <= 89; ++y) {
        for (int x = 1; x <= 89; ++x) {
            if (pixels->at(x, y) == yellow) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right >= left ? right - left : 0;
}

// Runs the loop until a repaint of `pane` satisfies `shown`; returns when that repaint happened
// (platform clock), or -1 after `timeout_ms`.
int64_t first_repaint_where(HWND pane, const std::function<bool(int)>& shown, int timeout_ms) {
    const int64_t end = platform::now_us() + int64_t{timeout_ms} * 1000;
    int paints = platform::testing::paint_count(pane);
    while (platform::now_us() < end) {
        platform::pump_once(true);
        const int now_paints = platform::testing::paint_count(pane);
        if (now_paints != paints) {
            paints = now_paints;
            const int64_t at = platform::now_us();
            if (shown(figure_span(pane))) {
                return at;
            }
        }
    }
    return -1;
}

bool press_and_wait(HWND dialog, const char* text) {
    platform::testing::click(dialog, on_off_button_id);
    return platform::pump_until(
        [&] { return platform::testing::control_text(dialog, on_off_button_id) == text; },
        2'000'000);
}

HWND xy_pane_of(HWND dialog) {
    for (HWND w : platform::testing::child_windows(dialog)) {
        if (platform::testing::class_name(w) == "XYScope") {
            return w;
        }
    }
    return nullptr;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Lets the loop run a random 0-20 ms more, so that a trial's start falls anywhere against the
// 10 ms repaint timer and the audio's own periods.
void random_pause() {
    static std::mt19937 rng(1);
    platform::pump_for(std::uniform_int_distribution<int64_t>(0, 20'000)(rng));
}

bool failed = false;
bool fail(const char* what) {
    std::fprintf(stderr, "latency_probe: %s\n", what);
    failed = true;
    return false;
}

// The span of the steady figure with the tone on, over a second of repaints.
int steady_span(HWND xy) {
    int span = 0;
    const int64_t end = platform::now_us() + 1'000'000;
    while (platform::now_us() < end) {
        platform::pump_once(true);
        span = std::max(span, figure_span(xy));
    }
    return span;
}

// Once the figure has been taken away: waits until it is gone and the path has settled, pauses a
// random moment, makes the `step` that should bring it back, and returns the milliseconds to the
// first repaint that shows it again; negative on failure.
double time_to_figure(HWND xy, int steady, int64_t settle_us, const std::function<void()>& step) {
    if (first_repaint_where(
            xy, [](int span) { return span <= 2; }, 3000) < 0) {
        fail("the figure did not go away");
        return -1.0;
    }
    platform::pump_for(settle_us);
    random_pause();
    const int64_t stepped = platform::now_us();
    step();
    const int64_t shown = first_repaint_where(
        xy, [&](int span) { return 2 * span >= steady; }, 3000);
    if (shown < 0) {
        fail("the figure did not appear");
        return -1.0;
    }
    return (shown - stepped) / 1000.0;
}

void measure_repaints(HWND dialog, int seconds) {
    HWND xy = xy_pane_of(dialog);
    if (!press_and_wait(dialog, "Off")) {
        fail("the tone did not start");
        return;
    }
    platform::pump_for(1'000'000);
    const int before = platform::testing::paint_count(xy);
    const int64_t t0 = platform::now_us();
    platform::pump_for(int64_t{seconds} * 1'000'000);
    const double rate =
        (platform::testing::paint_count(xy) - before) * 1e6 / double(platform::now_us() - t0);
    std::printf("repaints %.1f\nmedian repaints_per_second %.1f\n", rate, rate);
}

// Starts the tone and returns the span of the steady figure it draws; 0 after a failure.
int start_tone(HWND dialog, HWND xy) {
    if (!press_and_wait(dialog, "Off")) {
        fail("the tone did not start");
        return 0;
    }
    const int steady = steady_span(xy);
    std::printf("steady span %d\n", steady);
    if (steady < 20) {
        fail("no figure with the tone on");
        return 0;
    }
    return steady;
}

void measure_press_to_figure(HWND dialog, int trials) {
    HWND xy = xy_pane_of(dialog);
    const int steady = start_tone(dialog, xy);
    if (steady == 0) {
        return;
    }
    std::vector<double> ms;
    for (int i = 0; i < trials; ++i) {
        if (!press_and_wait(dialog, "On")) {
            fail("the tone did not stop");
            return;
        }
        // Half a second more lets the loopback drain.
        const double t = time_to_figure(
            xy, steady, 500'000, [&] { platform::testing::click(dialog, on_off_button_id); });
        if (t < 0) {
            return;
        }
        ms.push_back(t);
        std::printf("press_to_figure %.1f\n", ms.back());
    }
    std::printf("median press_to_figure_ms %.1f\n", median(ms));
}

void measure_input_to_pixel(HWND dialog, radio_path::RadioPath& path, int trials) {
    HWND xy = xy_pane_of(dialog);
    const int steady = start_tone(dialog, xy);
    if (steady == 0) {
        return;
    }
    std::vector<double> ms;
    for (int i = 0; i < trials; ++i) {
        path.set_gain(0.0);
        // The step: the next sample the path carries is the full signal.
        const double t = time_to_figure(xy, steady, 300'000, [&] { path.set_gain(1.0); });
        if (t < 0) {
            return;
        }
        ms.push_back(t);
        std::printf("input_to_pixel %.1f\n", ms.back());
    }
    std::printf("median input_to_pixel_ms %.1f\n", median(ms));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: latency_probe repaints|press-to-figure|input-to-pixel N\n");
        return 2;
    }
    const std::string what = argv[1];
    const int n = std::atoi(argv[2]);
    QApplication app(argc, argv);
    platform::use_virtual_clock(false);
    platform::testing::dismiss_message_boxes_after(100'000);

    std::shared_ptr<radio_path::RadioPath> path;
    if (what == "input-to-pixel") {
        path = radio_path::RadioPath::create();
        path->set_recording(false);
        platform::wave::set_backend(path);
    } else {
        platform::wave::set_backend(platform::wave::make_pulse_backend());
    }
    platform::testing::on_dialog_ready([&](HWND dialog) {
        if (!platform::testing::message_boxes().empty()) {
            fail(platform::testing::message_boxes().front().text.c_str());
        } else if (what == "repaints") {
            measure_repaints(dialog, n);
        } else if (what == "press-to-figure") {
            measure_press_to_figure(dialog, n);
        } else if (what == "input-to-pixel") {
            measure_input_to_pixel(dialog, *path, n);
        } else {
            fail("unknown measurement");
        }
        platform::testing::close_box(dialog);
    });
    const int code =
        WinMain(platform::host_instance(), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    platform::wave::close_all();
    platform::wave::set_backend(nullptr);
    return failed || code != 0 ? 1 : 0;
}

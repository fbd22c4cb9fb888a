// SPDX-License-Identifier: GPL-3.0-or-later
// An hour at the radio in seconds: the tone toggled every half second while capture runs, on the
// simulated radio path with the virtual clock. Resident memory and the number of windows must
// stay flat.
#include "../app/app_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true; // their allocators hold freed memory back on purpose
#else
constexpr bool sanitized = false;
#endif

namespace {

double resident_mb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Least-squares slope of y over x.
double slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

int soak_minutes() {
    const char* minutes = std::getenv("TAVRENE_SOAK_MINUTES");
    return minutes != nullptr ? std::atoi(minutes) : 60;
}

using Soak = AppTest;

TEST_F(Soak, TogglingEveryHalfSecondForAnHourKeepsMemoryAndWindowsFlat) {
    constexpr int warm_up_minutes = 5;
    const int minutes = soak_minutes();
    ASSERT_GT(minutes, warm_up_minutes + 2);
    path->set_recording(false); // the path's own copy of the tone would grow for ever

    std::vector<double> at_hours;
    std::vector<double> rss_mb;
    std::vector<int> windows;
    int presses = 0;
    const int code = run([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        for (int minute = 1; minute <= minutes; ++minute) {
            for (int i = 0; i < 120; ++i) {
                platform::testing::click(dialog, on_off_button_id);
                ++presses;
                run_for_ms(500);
            }
            // An even number of presses each minute: the tone is off again by now.
            EXPECT_EQ(button(dialog), "On") << "minute " << minute;
            EXPECT_EQ(reference_area(dialog), "Scope1");
            if (minute >= warm_up_minutes) {
                at_hours.push_back(minute / 60.0);
                rss_mb.push_back(resident_mb());
                windows.push_back(platform::testing::window_count());
            }
        }
        // It kept painting all along: about 100 repaints a second.
        const double paints_per_second = platform::testing::paint_count(xy) / (minutes * 60.0);
        EXPECT_GT(paints_per_second, 90.0);
        std::printf("XY pane: %.1f repaints per second of virtual time\n", paints_per_second);
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(path->underrun_bytes(), 0u) << "the tone ran dry while it played";

    ASSERT_GE(windows.size(), 2u);
    for (size_t i = 1; i < windows.size(); ++i) {
        EXPECT_EQ(windows[i], windows[0]) << "windows after minute " << warm_up_minutes + i;
    }
    const double growth = slope(at_hours, rss_mb);
    std::printf("%d presses over %d virtual minutes; resident %.2f MB -> %.2f MB after warm-up, "
                "growth %.3f MB per hour; %d windows throughout\n",
                presses, minutes, rss_mb.front(), rss_mb.back(), growth, windows.front());
    if (!sanitized) {
        EXPECT_LT(growth, 1.0) << "MB per hour";
        EXPECT_LT(rss_mb.back() - rss_mb.front(), 1.0) << "MB";
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the wave-audio tests: a hidden window that records the device reports, the
// simulated radio path as the backend, and the virtual clock.
#pragma once

#include "platform/loop.h"
#include "platform/wave_backend.h"
#include "platform/win32.h"
#include "sim/radio_path.h"
#include "tests/conformance/wave_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace wave_test {

struct Report {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    int64_t at_us;
    WAVEHDR* header() const { return reinterpret_cast<WAVEHDR*>(lparam); }
};

inline std::vector<Report>& reports() {
    static std::vector<Report> r;
    return r;
}

// Runs after a report is recorded: lets a test requeue blocks as an application would.
inline std::function<void(const Report&)>& on_report() {
    static std::function<void(const Report&)> f;
    return f;
}

inline LRESULT CALLBACK report_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA) {
        reports().push_back({msg, wparam, lparam, platform::now_us()});
        if (on_report())
            on_report()(reports().back());
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

using conformance::Block;
using conformance::stream_format;

class WaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::use_virtual_clock(true);
        reports().clear();
        on_report() = nullptr;
        path = radio_path::RadioPath::create();
        platform::wave::set_backend(path);
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = report_proc;
        wc.lpszClassName = "WaveTestReports";
        RegisterClassExA(&wc); // fails harmlessly once registered
        window = CreateWindowExA(0, "WaveTestReports", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }

    void TearDown() override {
        on_report() = nullptr;
        platform::wave::close_all();
        platform::wave::set_backend(nullptr);
        DestroyWindow(window);
        platform::pump_for(1000);
        path.reset();
        platform::use_virtual_clock(false);
    }

    size_t count(UINT msg) const {
        size_t n = 0;
        for (const Report& r : reports())
            n += r.msg == msg;
        return n;
    }

    bool wait_for(UINT msg, size_t n, int64_t timeout_us = 5'000'000) {
        return platform::pump_until([&] { return count(msg) >= n; }, timeout_us);
    }

    std::vector<Report> of(UINT msg) const {
        std::vector<Report> out;
        for (const Report& r : reports())
            if (r.msg == msg)
                out.push_back(r);
        return out;
    }

    HWAVEOUT open_out() {
        WAVEFORMATEX f = stream_format();
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(window), 0,
                              CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        return h;
    }

    HWAVEIN open_in(const WAVEFORMATEX& f = stream_format()) {
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(window), 0,
                             CALLBACK_WINDOW),
                  MMSYSERR_NOERROR);
        return h;
    }

    HWND window = nullptr;
    std::shared_ptr<radio_path::RadioPath> path;
};

// Amplitude of frequency `hz` in `x` (bytes around 128), by a single DFT bin.
inline double amplitude_at(const std::vector<uint8_t>& x, size_t from, size_t n, double hz) {
    std::complex<double> acc;
    for (size_t i = 0; i < n; ++i) {
        double t = 2.0 * std::numbers::pi * hz * double(i) / 11025.0;
        acc += (double(x[from + i]) - 128.0) * std::complex<double>(std::cos(t), -std::sin(t));
    }
    return 2.0 * std::abs(acc) / double(n);
}

} // namespace wave_test

// SPDX-License-Identifier: GPL-3.0-or-later
// The conformance tests' seam over platform/: its loop on the real clock, a DC over the software
// raster, the simulated radio path as the waveform device, and keys given to the Qt widgets as
// the window system gives them.
#include "tests/conformance/conformance.h"

#include "platform/gdi_internal.h"
#include "platform/host.h"
#include "platform/loop.h"
#include "platform/wave_backend.h"
#include "platform/windows_internal.h"
#include "sim/radio_path.h"
#include "tests/support/testing.h"

#include <Qt>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace conformance {
namespace {

class RasterCanvas final : public Canvas {
  public:
    RasterCanvas(int width, int height, COLORREF fill)
        : surface_(width, height, platform::raster::from_colorref(fill)),
          dc_(platform::gdi::create_dc(platform::raster::View{&surface_, 0, 0, width, height})) {}
    ~RasterCanvas() override { platform::gdi::release_dc(dc_); }
    HDC dc() override { return dc_; }
    COLORREF at(int x, int y) override { return platform::raster::to_colorref(surface_.at(x, y)); }

  private:
    platform::raster::Surface surface_;
    HDC dc_;
};

int qt_key(UINT virtual_key) {
    switch (virtual_key) {
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_F4:
        return Qt::Key_F4;
    default:
        if (virtual_key >= 'A' && virtual_key <= 'Z') {
            return Qt::Key_A + static_cast<int>(virtual_key - 'A');
        }
        ADD_FAILURE() << "no Qt key for virtual key " << virtual_key;
        return 0;
    }
}

} // namespace

HINSTANCE instance() {
    return platform::host_instance();
}

int64_t now_us() {
    return platform::now_us();
}

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void pump_for(int ms) {
    platform::pump_for(int64_t{ms} * 1000);
}

void drain() {
    while (platform::pump_once(false)) {
    }
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    return platform::pump_until(done, int64_t{timeout_ms} * 1000);
}

std::unique_ptr<Canvas> make_canvas(int width, int height, COLORREF fill) {
    return std::make_unique<RasterCanvas>(width, height, fill);
}

void begin_wave_devices() {
    platform::wave::set_backend(radio_path::RadioPath::create());
}

void end_wave_devices() {
    platform::wave::close_all();
    platform::wave::set_backend(nullptr);
}

INT_PTR run_dialog(const char* name, DLGPROC proc, const std::function<void(HWND)>& drive,
                   INT_PTR result) {
    platform::testing::on_dialog_ready([&drive, result](HWND dialog) {
        drive(dialog);
        EndDialog(dialog, result);
    });
    return DialogBoxParamA(instance(), name, nullptr, proc, 0);
}

HWND focused_control(HWND dialog) {
    platform::win::Window* d = platform::win::find(dialog);
    return d ? platform::win::host::focused_control(*d) : nullptr;
}

void key(HWND dialog, UINT virtual_key, bool down, bool alt) {
    platform::testing::key_event(dialog, qt_key(virtual_key), alt ? int{Qt::AltModifier} : 0, down);
}

void click(HWND dialog, int control_id) {
    platform::testing::click(dialog, control_id);
}

} // namespace conformance

// SPDX-License-Identifier: GPL-3.0-or-later
// The conformance tests' seam over the real user32, gdi32 and winmm.
#include "tests/conformance/conformance.h"

#include <chrono>
#include <thread>

namespace conformance {
namespace {

HWND driven_dialog = nullptr;

void dispatch(MSG& m) {
    if (driven_dialog && IsDialogMessageA(driven_dialog, &m)) {
        return;
    }
    TranslateMessage(&m);
    DispatchMessageA(&m);
}

// DialogBoxParamA's procedure for run_dialog: the test's own, and once the dialog is up (the
// message posted from WM_INITDIALOG comes after the dialog is shown) the drive.
constexpr UINT drive_message = WM_APP + 0x77;
DLGPROC inner_proc = nullptr;
const std::function<void(HWND)>* pending_drive = nullptr;
INT_PTR pending_result = 0;

INT_PTR CALLBACK driving_proc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == drive_message) {
        HWND outer = driven_dialog;
        driven_dialog = dialog;
        (*pending_drive)(dialog);
        driven_dialog = outer;
        EndDialog(dialog, pending_result);
        return TRUE;
    }
    const INT_PTR answer = inner_proc(dialog, msg, wparam, lparam);
    if (msg == WM_INITDIALOG) {
        PostMessageA(dialog, drive_message, 0, 0);
    }
    return answer;
}

class DibCanvas final : public Canvas {
  public:
    DibCanvas(int width, int height, COLORREF fill) : width_(width) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
        previous_ = SelectObject(dc_, bitmap_);
        const uint32_t pixel = (GetRValue(fill) << 16) | (GetGValue(fill) << 8) | GetBValue(fill);
        for (int i = 0; i < width * height; ++i) {
            bits_[i] = pixel;
        }
    }
    ~DibCanvas() override {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() override { return dc_; }
    COLORREF at(int x, int y) override {
        GdiFlush();
        const uint32_t p = bits_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

  private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

} // namespace

HINSTANCE instance() {
    return GetModuleHandleA(nullptr);
}

int64_t now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

void drain() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        dispatch(m);
    }
}

bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    const int64_t end = now_us() + int64_t{timeout_ms} * 1000;
    while (!done()) {
        MSG m;
        if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            dispatch(m);
            continue;
        }
        const int64_t left = end - now_us();
        if (left <= 0) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>((left + 999) / 1000),
                                  QS_ALLINPUT);
    }
    return done();
}

void pump_for(int ms) {
    pump_until([] { return false; }, ms);
}

std::unique_ptr<Canvas> make_canvas(int width, int height, COLORREF fill) {
    return std::make_unique<DibCanvas>(width, height, fill);
}

void begin_wave_devices() {}
void end_wave_devices() {}

INT_PTR run_dialog(const char* name, DLGPROC proc, const std::function<void(HWND)>& drive,
                   INT_PTR result) {
    inner_proc = proc;
    pending_drive = &drive;
    pending_result = result;
    return DialogBoxParamA(instance(), name, nullptr, driving_proc, 0);
}

HWND focused_control(HWND dialog) {
    HWND focus = GetFocus();
    return focus && IsChild(dialog, focus) ? focus : nullptr;
}

void key(HWND dialog, UINT virtual_key, bool down, bool alt) {
    HWND target = focused_control(dialog);
    if (!target) {
        target = dialog;
    }
    // lParam: one repeat, the scan code, Alt (bit 29), previous state and transition (30, 31).
    LPARAM flags = 1 | (static_cast<LPARAM>(MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC)) << 16);
    if (alt) {
        flags |= LPARAM{1} << 29;
    }
    if (!down) {
        flags |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
    }
    const UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    PostMessageA(target, msg, virtual_key, flags);
    drain();
}

void click(HWND dialog, int control_id) {
    SendMessageA(GetDlgItem(dialog, control_id), BM_CLICK, 0, 0);
}

} // namespace conformance

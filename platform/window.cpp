// SPDX-License-Identifier: GPL-3.0-or-later
// The window tree: creation with its messages, destruction with its children, the records of
// each window, DefWindowProcA and the window queries.
#include "platform/gdi_internal.h"
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <algorithm>
#include <map>
#include <memory>

namespace platform::win {
namespace {

std::map<uintptr_t, std::unique_ptr<Window>> windows; // handles grow, never reused
uintptr_t next_handle = 0x10010;

void send_destroy(HWND hwnd) {
    Window* w = find(hwnd);
    if (!w) {
        return;
    }
    w->destroying = true;
    w->visible = false;
    deliver(hwnd, WM_DESTROY, 0, 0);
    w = find(hwnd);
    if (!w) {
        return;
    }
    for (HWND child : std::vector<HWND>(w->children)) {
        send_destroy(child);
    }
}

void free_window(HWND hwnd) {
    Window* w = find(hwnd);
    if (!w) {
        return;
    }
    for (HWND child : std::vector<HWND>(w->children)) {
        free_window(child);
    }
    deliver(hwnd, WM_NCDESTROY, 0, 0);
    discard_queued(hwnd);
    w = find(hwnd);
    if (!w) {
        return;
    }
    host::destroy_widget(*w);
    if (Window* parent = find(w->parent)) {
        std::erase(parent->children, hwnd);
    }
    windows.erase(reinterpret_cast<uintptr_t>(hwnd));
}

} // namespace

Window* find(HWND hwnd) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

std::vector<HWND> all_windows() {
    std::vector<HWND> out;
    out.reserve(windows.size());
    for (const auto& [handle, w] : windows) {
        out.push_back(w->handle);
    }
    return out;
}

bool showing(const Window& w) {
    for (const Window* p = &w; p; p = find(p->parent)) {
        if (!p->visible) {
            return false;
        }
    }
    return true;
}

Window* create(Window proto, HWND parent) {
    auto owned = std::make_unique<Window>(std::move(proto));
    Window* w = owned.get();
    w->handle = reinterpret_cast<HWND>(next_handle);
    next_handle += 2;
    w->parent = parent;
    w->visible = (w->style & WS_VISIBLE) != 0;
    const int width = w->rect.right - w->rect.left;
    const int height = w->rect.bottom - w->rect.top;
    const int inset = (w->kind == Kind::Plain && (w->style & WS_BORDER)) ? 1 : 0;
    w->client = RECT{inset, inset, std::max(inset, width - inset), std::max(inset, height - inset)};
    if (w->kind == Kind::Plain) {
        // A white client area inside a frame of Windows' window-frame colour, black.
        w->surface = raster::Surface(width, height, inset ? 0 : 0xFFFFFF);
        raster::fill(client_view(*w), 0xFFFFFF);
    }
    windows.emplace(reinterpret_cast<uintptr_t>(w->handle), std::move(owned));
    if (Window* p = find(parent)) {
        p->children.push_back(w->handle);
    }
    return w;
}

void destroy(HWND hwnd) {
    send_destroy(hwnd);
    free_window(hwnd);
}

RECT client_rect(const Window& w) {
    return RECT{0, 0, w.client.right - w.client.left, w.client.bottom - w.client.top};
}

} // namespace platform::win

using namespace platform;
using platform::win::find;
using platform::win::Kind;
using platform::win::Window;

HWND WINAPI CreateWindowExA(DWORD /*ex_style*/, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID /*param*/) {
    const win::WindowClass* cls = class_name ? win::find_class(class_name) : nullptr;
    if (!cls || (parent && !find(parent)) || ((style & WS_CHILD) && !parent)) {
        trace::refused(__func__,
                       !cls     ? "no such window class"
                       : parent ? "the parent is not a window"
                                : "WS_CHILD without a parent",
                       class_name, window_name, style, x, y, width, height, parent);
        return nullptr;
    }
    Window proto;
    proto.kind = Kind::Plain;
    proto.class_name = cls->name;
    proto.proc = cls->proc;
    proto.background = cls->background;
    proto.instance = instance;
    proto.style = style;
    proto.id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<intptr_t>(menu)) : 0;
    proto.text = window_name ? window_name : "";
    proto.rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    Window* const w = win::create(std::move(proto), parent);
    HWND hwnd = w->handle;
    const RECT c = win::client_rect(*w);
    win::host::create_widget(*w);

    // lParam carries no CREATESTRUCT: nothing here reads one.
    if (!win::deliver(hwnd, WM_NCCREATE, 0, 0)) {
        trace::refused(__func__, "the window procedure refused WM_NCCREATE", class_name);
        win::free_window(hwnd);
        return nullptr;
    }
    if (win::deliver(hwnd, WM_CREATE, 0, 0) == -1) {
        trace::refused(__func__, "the window procedure refused WM_CREATE", class_name);
        DestroyWindow(hwnd);
        return nullptr;
    }
    // Each message may have destroyed the window: the calls below then find nothing to act on.
    if (style & WS_VISIBLE) {
        win::deliver(hwnd, WM_SHOWWINDOW, TRUE, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    win::deliver(hwnd, WM_SIZE, 0, MAKELPARAM(c.right, c.bottom));
    return find(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Window* w = find(hwnd);
    if (!w || w->destroying) {
        trace::refused(__func__, !w ? "not a window" : "already being destroyed", hwnd);
        return FALSE;
    }
    win::destroy(hwnd);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    if (!w) {
        trace::refused(__func__, "not a window", hwnd, msg, wparam, lparam);
        return 0;
    }
    switch (msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_SETCURSOR:
        // The parent has the first say; the host's arrow is the only cursor there is.
        if ((w->style & WS_CHILD) && find(w->parent)) {
            return SendMessageA(w->parent, WM_SETCURSOR, wparam, lparam);
        }
        return FALSE;
    case WM_NCHITTEST:
        return HTCLIENT; // no caption or sizing border to hit on a plain window here
    case WM_ERASEBKGND:
        if (!w->background) { // only plain windows have one
            return 0;
        }
        gdi::fill_with_brush(win::client_view(*w), w->background);
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE) {
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 (bit 29: Alt held) asks the top-level window to close.
        if (wparam == VK_F4 && (lparam & (LPARAM{1} << 29))) {
            HWND top = hwnd;
            while (find(top)->parent) {
                top = find(top)->parent;
            }
            PostMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    default:
        return 0;
    }
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
    Window* w = find(hwnd);
    if (!w) {
        trace::refused(__func__, "not a window", hwnd, index);
        return 0;
    }
    switch (index) {
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_ID:
        return w->id;
    default:
        trace::refused(__func__, "only GWLP_HINSTANCE and GWLP_ID are kept", hwnd, index);
        return 0;
    }
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = find(hwnd);
    if (!w || !rect) {
        trace::refused(__func__, !w ? "not a window" : "no RECT", hwnd, rect);
        return FALSE;
    }
    *rect = win::client_rect(*w);
    return TRUE;
}

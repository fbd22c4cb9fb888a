// Windows and messages: class registry, window tree, posted queue, dispatch, timers,
// invalidation and WM_PAINT, DefWindowProcA, BeginPaint/EndPaint.
#include "platform/gdi_internal.h"
#include "platform/loop.h"
#include "platform/windows_internal.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <thread>

namespace platform::win {
namespace {

// Below this period Windows raises SetTimer's period (USER_TIMER_MINIMUM).
constexpr UINT min_timer_ms = 10;
constexpr UINT max_timer_ms = 0x7FFFFFFF;

struct WindowClass {
    WNDPROC proc;
    HBRUSH background;
    HINSTANCE instance;
    std::string name; // as registered
};
std::map<std::string, WindowClass> classes; // key: lower-case name
ATOM next_atom = 0xC000;

std::map<uintptr_t, std::unique_ptr<Window>> windows; // handles grow, never reused
uintptr_t next_handle = 0x10010;

struct Posted {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};
std::deque<Posted> posted;

// The input queue holds at most one pointer move: a newer one replaces it, as Windows merges
// moves the program has not yet taken.
struct PointerMove {
    HWND hwnd;
    POINT client;
    POINT screen;
};
std::optional<PointerMove> pointer_move;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    int64_t period_us;
    int64_t due_us;
    TIMERPROC proc;
};
std::vector<Timer> timers;

const std::thread::id ui_thread = std::this_thread::get_id();

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

raster::View client_view(Window& w) {
    return raster::View{&w.surface, static_cast<int>(w.client.left), static_cast<int>(w.client.top),
                        static_cast<int>(w.client.right - w.client.left),
                        static_cast<int>(w.client.bottom - w.client.top)};
}

LRESULT control_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

LPARAM point_param(POINT p) {
    return static_cast<LPARAM>((static_cast<DWORD>(p.y & 0xFFFF) << 16) | (p.x & 0xFFFF));
}

LRESULT deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    if (!w) {
        return 0;
    }
    if (msg == WM_PAINT) {
        ++w->paint_count;
    } else if (msg == WM_TIMER) {
        ++w->timer_count;
    }
    switch (w->kind) {
    case Kind::Plain:
        return w->proc(hwnd, msg, wparam, lparam);
    case Kind::Dialog:
        return dialog_window_proc(hwnd, msg, wparam, lparam);
    case Kind::Control:
        return control_proc(hwnd, msg, wparam, lparam);
    }
    return 0;
}

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
    // Timers die with their window, even those re-armed by its last messages.
    std::erase_if(timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    if (pointer_move && pointer_move->hwnd == hwnd) {
        pointer_move.reset();
    }
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

RECT intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) {
        return RECT{0, 0, 0, 0};
    }
    return r;
}

bool empty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

RECT unite(const RECT& a, const RECT& b) {
    if (empty(a)) {
        return b;
    }
    if (empty(b)) {
        return a;
    }
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

RECT client_rect(const Window& w) {
    return RECT{0, 0, w.client.right - w.client.left, w.client.bottom - w.client.top};
}

} // namespace

Window* find(HWND hwnd) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

void forget_classes() {
    classes.clear();
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
        w->has_surface = true;
        w->surface = raster::Surface(std::max(width, 0), std::max(height, 0), 0xFFFFFF);
        if (inset && width > 0 && height > 0) {
            // Windows' window-frame colour.
            for (int x = 0; x < width; ++x) {
                w->surface.pixels[x] = 0;
                w->surface.pixels[static_cast<size_t>(height - 1) * width + x] = 0;
            }
            for (int y = 0; y < height; ++y) {
                w->surface.pixels[static_cast<size_t>(y) * width] = 0;
                w->surface.pixels[static_cast<size_t>(y) * width + width - 1] = 0;
            }
        }
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

bool dispatch_posted() {
    if (posted.empty()) {
        return false;
    }
    const Posted m = posted.front();
    posted.pop_front();
    deliver(m.hwnd, m.msg, m.wparam, m.lparam); // a window gone meanwhile drops it
    return true;
}

void pointer_moved(HWND hwnd, POINT client, POINT screen) {
    pointer_move = PointerMove{hwnd, client, screen};
}

bool dispatch_input() {
    if (!pointer_move) {
        return false;
    }
    const PointerMove m = *pointer_move;
    pointer_move.reset();
    // Each move asks the window what lies under the pointer and lets it set the cursor first.
    const LRESULT hit = deliver(m.hwnd, WM_NCHITTEST, 0, point_param(m.screen));
    deliver(m.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.hwnd),
            static_cast<LPARAM>((WM_MOUSEMOVE << 16) | (hit & 0xFFFF)));
    if (hit == HTCLIENT) {
        deliver(m.hwnd, WM_MOUSEMOVE, 0, point_param(m.client));
    }
    return true;
}

bool dispatch_paint() {
    for (const auto& [handle, w] : windows) {
        if (w->invalid && !w->painting && w->has_surface && showing(*w)) {
            deliver(w->handle, WM_PAINT, 0, 0);
            return true;
        }
    }
    return false;
}

bool dispatch_timer(int64_t now_us) {
    Timer* due = nullptr;
    for (Timer& t : timers) {
        if (t.due_us <= now_us && (!due || t.due_us < due->due_us)) {
            due = &t;
        }
    }
    if (!due) {
        return false;
    }
    // A late tick is followed by the next one on the timer's own schedule: no burst of missed
    // ticks, and no drift of the rate by the lateness.
    due->due_us += ((now_us - due->due_us) / due->period_us + 1) * due->period_us;
    const Timer t = *due;
    if (t.proc) {
        if (Window* w = find(t.hwnd)) {
            ++w->timer_count;
        }
        t.proc(t.hwnd, WM_TIMER, t.id, static_cast<DWORD>(now_us / 1000));
    } else {
        deliver(t.hwnd, WM_TIMER, t.id, 0);
    }
    return true;
}

std::optional<int64_t> next_timer_due() {
    std::optional<int64_t> due;
    for (const Timer& t : timers) {
        if (!due || t.due_us < *due) {
            due = t.due_us;
        }
    }
    return due;
}

} // namespace platform::win

using namespace platform;
using platform::win::find;
using platform::win::Kind;
using platform::win::Window;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc) {
        return 0;
    }
    const std::string key = win::lower(wc->lpszClassName);
    if (key.empty() || win::classes.count(key)) {
        return 0;
    }
    win::classes.emplace(key, win::WindowClass{wc->lpfnWndProc, wc->hbrBackground, wc->hInstance,
                                               wc->lpszClassName});
    return win::next_atom++;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID /*param*/) {
    if (!class_name) {
        return nullptr;
    }
    auto cls = win::classes.find(win::lower(class_name));
    if (cls == win::classes.end()) {
        return nullptr;
    }
    if ((parent && !find(parent)) || ((style & WS_CHILD) && !parent)) {
        return nullptr;
    }
    Window proto;
    proto.kind = Kind::Plain;
    proto.class_name = cls->second.name;
    proto.proc = cls->second.proc;
    proto.background = cls->second.background;
    proto.instance = instance;
    proto.style = style;
    proto.ex_style = ex_style;
    proto.id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<intptr_t>(menu)) : 0;
    proto.text = window_name ? window_name : "";
    proto.rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    Window* w = win::create(std::move(proto), parent);
    HWND hwnd = w->handle;
    win::host::create_widget(*w);

    // lParam carries no CREATESTRUCT: nothing here reads one.
    if (!win::deliver(hwnd, WM_NCCREATE, 0, 0)) {
        win::free_window(hwnd);
        return nullptr;
    }
    if (win::deliver(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    w = find(hwnd);
    if (!w) {
        return nullptr;
    }
    if (w->style & WS_VISIBLE) {
        win::deliver(hwnd, WM_SHOWWINDOW, TRUE, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    w = find(hwnd);
    if (!w) {
        return nullptr;
    }
    const RECT c = win::client_rect(*w);
    win::deliver(hwnd, WM_SIZE, 0, (c.bottom << 16) | (c.right & 0xFFFF));
    return find(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Window* w = find(hwnd);
    if (!w || w->destroying) {
        return FALSE;
    }
    win::destroy(hwnd);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    if (!w) {
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
        if (!w->has_surface || !w->background) {
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
    default:
        return 0;
    }
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
    Window* w = find(hwnd);
    if (!w) {
        return 0;
    }
    switch (index) {
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_ID:
        return w->id;
    default:
        return 0;
    }
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC timer_proc) {
    if (!find(hwnd) || find(hwnd)->destroying) {
        return 0;
    }
    const UINT ms = std::clamp(elapse_ms, win::min_timer_ms, win::max_timer_ms);
    const int64_t period = static_cast<int64_t>(ms) * 1000;
    const int64_t due = now_us() + period;
    for (win::Timer& t : win::timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t = win::Timer{hwnd, id, period, due, timer_proc};
            return id ? id : 1;
        }
    }
    win::timers.push_back(win::Timer{hwnd, id, period, due, timer_proc});
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    const auto removed = std::erase_if(
        win::timers, [&](const win::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    return removed ? TRUE : FALSE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = find(hwnd);
    if (!w || !rect) {
        return FALSE;
    }
    *rect = win::client_rect(*w);
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (!hwnd) {
        for (HWND h : win::all_windows()) {
            InvalidateRect(h, nullptr, erase);
        }
        return TRUE;
    }
    Window* w = find(hwnd);
    if (!w) {
        return FALSE;
    }
    if (!w->has_surface) {
        win::host::present(*w);
        return TRUE;
    }
    const RECT client = win::client_rect(*w);
    const RECT area = win::intersect(rect ? *rect : client, client);
    if (win::empty(area)) {
        return TRUE;
    }
    w->update = win::unite(w->update, area);
    w->invalid = true;
    w->erase = w->erase || erase;
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    Window* w = find(hwnd);
    if (!w || !paint || !w->has_surface) {
        return nullptr;
    }
    *paint = PAINTSTRUCT{};
    raster::View view = win::client_view(*w);
    if (!w->invalid) {
        // Nothing to repaint: Windows clips such a context to an empty region.
        view.clip_width = 0;
        view.clip_height = 0;
    }
    const bool erase = w->erase;
    paint->rcPaint = w->update;
    w->invalid = false;
    w->erase = false;
    w->update = RECT{0, 0, 0, 0};
    w->painting = true;
    paint->hdc = gdi::create_dc(view);
    paint->fErase = erase ? TRUE : FALSE;
    if (erase && win::deliver(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0)) {
        paint->fErase = FALSE;
    }
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc) {
        gdi::release_dc(paint->hdc);
    }
    Window* w = find(hwnd);
    if (!w) {
        return TRUE;
    }
    w->painting = false;
    win::host::present(*w);
    return TRUE;
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (std::this_thread::get_id() != win::ui_thread) {
        run_on_ui_thread([=] { PostMessageA(hwnd, msg, wparam, lparam); });
        return TRUE;
    }
    if (hwnd && !find(hwnd)) {
        return FALSE;
    }
    win::posted.push_back(win::Posted{hwnd, msg, wparam, lparam});
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return win::deliver(hwnd, msg, wparam, lparam);
}

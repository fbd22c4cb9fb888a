// The dialog manager: a template from the compiled resources becomes a dialog window with native
// controls laid out in dialog units; the modal loop runs until EndDialog; keys and close
// requests are mapped the Win32 way.
#include "platform/dialog_template.h"
#include "platform/host.h"
#include "platform/loop.h"
#include "platform/windows_internal.h"

#include <Qt>

namespace platform::win {
namespace {

// MulDiv(value, numerator, denominator): rounded half away from zero.
int mul_div(int value, int numerator, int denominator) {
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

// Dialog units to pixels. The template font's cell is twice as high as its average character
// is wide (a 12 px Gothic: 6 x 12), so both axes scale by font_pixels / 8: 1.5 px at 9 pt.
RECT to_pixels(int x, int y, int cx, int cy, int font_pixels) {
    const int left = mul_div(x, font_pixels, 8);
    const int top = mul_div(y, font_pixels, 8);
    return RECT{left, top, left + mul_div(cx, font_pixels, 8), top + mul_div(cy, font_pixels, 8)};
}

HWND control_with_id(HWND dialog, int id) {
    const Window* d = find(dialog);
    if (!d) {
        return nullptr;
    }
    for (HWND child : d->children) {
        const Window* c = find(child);
        if (c && c->id == id) {
            return child;
        }
    }
    return nullptr;
}

WPARAM command(int id, int code) {
    return static_cast<WPARAM>((static_cast<DWORD>(code) << 16) |
                               (static_cast<DWORD>(id) & 0xFFFF));
}

// What the dialog procedure leaves undone (FALSE) is handled here.
LRESULT default_dialog_handling(HWND hwnd, UINT msg, WPARAM wparam) {
    switch (msg) {
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE) {
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_CLOSE:
        // A dialog does not destroy itself: closing means cancelling.
        PostMessageA(hwnd, WM_COMMAND, command(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control_with_id(hwnd, IDCANCEL)));
        return 0;
    default:
        return 0;
    }
}

} // namespace

LRESULT dialog_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    const Window* w = find(hwnd);
    if (!w) {
        return 0;
    }
    const INT_PTR handled = w->dialog_proc ? w->dialog_proc(hwnd, msg, wparam, lparam) : FALSE;
    if (handled) {
        return handled;
    }
    return default_dialog_handling(hwnd, msg, wparam);
}

namespace dialog {

void key(HWND dialog, int qt_key, int qt_modifiers) {
    const Window* d = find(dialog);
    if (!d || d->kind != Kind::Dialog) {
        return;
    }
    switch (qt_key) {
    case Qt::Key_Escape:
        SendMessageA(dialog, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(control_with_id(dialog, IDCANCEL)));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // The focused push button, else the default id.
        HWND focused = host::focused_control(*find(dialog));
        const Window* f = find(focused);
        if (f && f->class_name == "Button" && (f->style & 0xF) != BS_GROUPBOX) {
            clicked(focused);
        } else {
            SendMessageA(dialog, WM_COMMAND, IDOK,
                         reinterpret_cast<LPARAM>(control_with_id(dialog, IDOK)));
        }
        break;
    }
    case Qt::Key_F4:
        if (qt_modifiers & Qt::AltModifier) {
            close_request(dialog);
        }
        break;
    default:
        break;
    }
}

void close_request(HWND dialog) {
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void clicked(HWND control) {
    const Window* c = find(control);
    if (!c) {
        return;
    }
    SendMessageA(c->parent, WM_COMMAND, command(c->id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
}

} // namespace dialog
} // namespace platform::win

using namespace platform;
using platform::win::find;
using platform::win::Kind;
using platform::win::Window;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner,
                               DLGPROC dialog_proc, LPARAM init_param) {
    // Templates are known by name only; a numeric resource id is never found.
    if (!have_display() || !template_name || reinterpret_cast<uintptr_t>(template_name) < 0x10000 ||
        (owner && !find(owner))) {
        return -1;
    }
    const auto tpl = resources::find_dialog(resources::embedded_resources(), template_name);
    if (!tpl) {
        return -1;
    }
    const int font_pixels = tpl->font_points > 0 ? win::mul_div(tpl->font_points, 96, 72) : 12;

    Window proto;
    proto.kind = Kind::Dialog;
    proto.class_name = "#32770";
    proto.dialog_proc = dialog_proc;
    proto.instance = instance;
    proto.style = tpl->style & ~static_cast<DWORD>(WS_VISIBLE); // shown after WM_INITDIALOG
    proto.ex_style = tpl->ex_style;
    proto.text = tpl->caption;
    proto.rect = win::to_pixels(tpl->x, tpl->y, tpl->cx, tpl->cy, font_pixels);
    Window* d = win::create(std::move(proto), nullptr);
    const HWND hwnd = d->handle;
    win::host::create_dialog_widget(*d, tpl->font_face, font_pixels);
    if (!d->widget) {
        win::destroy(hwnd);
        return -1;
    }

    HWND first_tab_stop = nullptr;
    for (const resources::Control& c : tpl->controls) {
        Window control;
        control.kind = Kind::Control;
        control.class_name = c.class_name;
        control.instance = instance;
        control.id = c.id;
        control.style = c.style;
        control.ex_style = c.ex_style;
        control.text = c.text;
        control.rect = win::to_pixels(c.x, c.y, c.cx, c.cy, font_pixels);
        Window* made = win::create(std::move(control), hwnd);
        win::host::create_control_widget(*made, *find(hwnd));
        if (!first_tab_stop && (made->style & WS_TABSTOP) && made->visible) {
            first_tab_stop = made->handle;
        }
    }

    const LRESULT focus_default =
        SendMessageA(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop), init_param);
    d = find(hwnd);
    if (!d) {
        return -1;
    }
    if (focus_default && first_tab_stop) {
        if (Window* f = find(first_tab_stop)) {
            win::host::focus(*f);
        }
    }
    if (!d->dialog_ended && (tpl->style & WS_VISIBLE)) {
        d->visible = true;
        win::host::show_dialog(*d, (tpl->style & DS_CENTERMOUSE) != 0);
    }
    while ((d = find(hwnd)) && !d->dialog_ended) {
        pump_once(true);
    }
    const INT_PTR result = d ? d->dialog_result : 0;
    if (d) {
        win::destroy(hwnd);
    }
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Window* d = find(dialog);
    if (!d || d->kind != Kind::Dialog) {
        return FALSE;
    }
    d->dialog_ended = true;
    d->dialog_result = result;
    d->visible = false;
    win::host::hide(*d);
    PostMessageA(dialog, WM_NULL, 0, 0); // wakes the modal loop
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Window* c = find(win::control_with_id(dialog, id));
    if (!c) {
        return FALSE;
    }
    c->text = text ? text : "";
    win::host::set_text(*c);
    return TRUE;
}

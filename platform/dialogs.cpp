// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog manager: a template from the compiled resources becomes a dialog window with native
// controls laid out in dialog units; the modal loop runs until EndDialog; keyboard messages go
// through the dialog manager as IsDialogMessage takes them (mnemonics included), and push buttons
// and check boxes answer keys as user32's buttons do.
#include "platform/dialog_template.h"
#include "platform/host.h"
#include "platform/loop.h"
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <algorithm>
#include <vector>

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

// BN_CLICKED for the control `id`, as the keyboard sends it (lParam null without such a control).
void send_command(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control_with_id(dialog, id)));
}

bool is_push_button(const Window& w) {
    const DWORD type = w.style & 0xF;
    return w.class_name == "Button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool is_check_box(const Window& w) {
    const DWORD type = w.style & 0xF;
    return w.class_name == "Button" && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
}

// The letter after a single '&' in a control's text, upper case; 0 when there is none ("&&" is a
// plain '&').
char mnemonic(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] != '&') {
                const char c = text[i + 1];
                return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            }
            ++i;
        }
    }
    return 0;
}

// The visible button whose mnemonic is `key` (a letter's virtual key), searched from the one
// after `focus` round the dialog, as IsDialogMessage searches; null when none has it.
HWND button_with_mnemonic(const Window& dialog, HWND focus, WPARAM key) {
    const auto& all = dialog.children;
    const auto at = std::find(all.begin(), all.end(), focus);
    const size_t start = at == all.end() ? 0 : static_cast<size_t>(at - all.begin()) + 1;
    for (size_t n = 0; n < all.size(); ++n) {
        const Window* c = find(all[(start + n) % all.size()]);
        if (c && c->visible && (is_push_button(*c) || is_check_box(*c)) &&
            static_cast<WPARAM>(static_cast<unsigned char>(mnemonic(c->text))) == key) {
            return c->handle;
        }
    }
    return nullptr;
}

// The push button styled as the default one, if any.
HWND default_button(const Window& dialog) {
    for (HWND child : dialog.children) {
        const Window* c = find(child);
        if (c && is_push_button(*c) && (c->style & 0xF) == BS_DEFPUSHBUTTON) {
            return child;
        }
    }
    return nullptr;
}

// The next control with WS_TABSTOP after `from` in template order, wrapping around (before it
// when `backwards`); the first one when `from` is no control of the dialog.
HWND next_tab_stop(const Window& dialog, HWND from, bool backwards) {
    std::vector<HWND> stops;
    for (HWND child : dialog.children) {
        const Window* c = find(child);
        if (c && c->kind == Kind::Control && (c->style & WS_TABSTOP) && c->visible) {
            stops.push_back(child);
        }
    }
    if (stops.empty()) {
        return nullptr;
    }
    const auto at = std::find(stops.begin(), stops.end(), from);
    if (at == stops.end()) {
        return backwards ? stops.back() : stops.front();
    }
    const size_t i = static_cast<size_t>(at - stops.begin());
    return stops[(i + (backwards ? stops.size() - 1 : 1)) % stops.size()];
}

// Moving the focus with the keyboard moves the default push button along: a push button that
// gets the focus becomes the default one, and the one before it goes back to plain; the focus
// going elsewhere leaves the default where it is.
void focus_with_keyboard(Window& dialog, Window& next) {
    if (Window* before = find(host::focused_control(dialog))) {
        before->pushed = false;
    }
    host::focus(next);
    const HWND old_default = default_button(dialog);
    const HWND new_default = is_push_button(next) ? next.handle : old_default;
    if (old_default && old_default != new_default) {
        SendMessageA(old_default, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
    if (new_default && new_default != old_default) {
        SendMessageA(new_default, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    }
}

// IsDialogMessage's share of a key, for a live dialog: true when the dialog manager took it.
bool dialog_manager_takes(HWND dialog, HWND focus, UINT msg, WPARAM key, bool shift_down) {
    // A letter, with Alt or without (no control here takes characters), is a mnemonic: the
    // button that has it takes the focus and is clicked, as BM_CLICK does.
    if ((msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) && key >= 'A' && key <= 'Z') {
        Window* b = find(button_with_mnemonic(*find(dialog), focus, key));
        if (!b) {
            return false;
        }
        if (Window* before = find(focus)) {
            before->pushed = false;
        }
        host::focus(*b);
        dialog::clicked(b->handle);
        return true;
    }
    if (msg != WM_KEYDOWN) {
        return false;
    }
    const LRESULT code = focus ? SendMessageA(focus, WM_GETDLGCODE, key, 0) : 0;
    switch (key) {
    case VK_TAB:
        if (Window* next = find(next_tab_stop(*find(dialog), focus, shift_down))) {
            focus_with_keyboard(*find(dialog), *next);
        }
        return true;
    case VK_ESCAPE:
        send_command(dialog, IDCANCEL);
        return true;
    case VK_RETURN: {
        // The focused button if it is the default one, else the dialog's default id, else IDOK.
        if (focus && (code & DLGC_DEFPUSHBUTTON)) {
            dialog::clicked(focus);
        } else {
            const LRESULT default_id = SendMessageA(dialog, DM_GETDEFID, 0, 0);
            send_command(dialog, HIWORD(default_id) == DC_HASDEFID ? LOWORD(default_id) : IDOK);
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

// The dialog procedure first (deliver only calls this for a live dialog); what it leaves undone,
// answering FALSE, is handled here.
LRESULT dialog_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    const Window* d = find(hwnd);
    const INT_PTR handled = d->dialog_proc ? d->dialog_proc(hwnd, msg, wparam, lparam) : FALSE;
    if (handled) {
        return handled;
    }
    switch (msg) {
    case WM_CLOSE:
        // A dialog does not destroy itself: closing means cancelling.
        PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control_with_id(hwnd, IDCANCEL)));
        return 0;
    case DM_GETDEFID: {
        // Without DM_SETDEFID, which this subset leaves out, the default id is that of the push
        // button drawn as the default one. The procedure may have destroyed the dialog.
        d = find(hwnd);
        const Window* b = d ? find(default_button(*d)) : nullptr;
        return b ? MAKELONG(b->id, DC_HASDEFID) : 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

// Like dialog_window_proc, only called for a live control.
LRESULT control_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    Window* w = find(hwnd);
    const bool check_box = is_check_box(*w);
    if (!is_push_button(*w) && !check_box) {
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
    switch (msg) {
    case WM_GETDLGCODE:
        if (check_box) {
            return DLGC_BUTTON;
        }
        return DLGC_BUTTON |
               ((w->style & 0xF) == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_SETSTYLE:
        if (check_box) {
            return 0; // a check box stays one
        }
        w->style = (w->style & ~DWORD{0xF}) | (static_cast<DWORD>(wparam) & 0xF);
        host::show_default(*w);
        return 0;
    case BM_GETCHECK:
        return check_box ? w->checked : BST_UNCHECKED;
    case BM_SETCHECK:
        // A two-state box takes anything above BST_CHECKED as checked; a push button has none.
        // No notification follows.
        if (check_box) {
            w->checked = wparam == BST_UNCHECKED ? BST_UNCHECKED : BST_CHECKED;
            host::show_check(*w);
        }
        return 0;
    case WM_KEYDOWN:
        // Space holds the button down; it clicks when the key comes up, still on the button.
        if (wparam == VK_SPACE) {
            w->pushed = true;
        }
        return 0;
    case WM_KEYUP:
        if (wparam == VK_SPACE && w->pushed) {
            w->pushed = false;
            dialog::clicked(hwnd);
        }
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

namespace dialog {

void key_message(HWND dialog, UINT msg, WPARAM key, LPARAM flags, bool shift) {
    const HWND focus = host::focused_control(*find(dialog));
    if (!dialog_manager_takes(dialog, focus, msg, key, shift)) {
        deliver(focus ? focus : dialog, msg, key, flags);
    }
}

void clicked(HWND control) {
    Window* c = find(control);
    if ((c->style & 0xF) == BS_AUTOCHECKBOX && c->class_name == "Button") {
        c->checked = c->checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        host::show_check(*c);
    }
    SendMessageA(c->parent, WM_COMMAND, MAKEWPARAM(c->id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
}

} // namespace dialog

namespace {

// The dialog window from its template, with its controls, initialised and (if the template says
// so) shown; null when it could not be made. One ended during WM_INITDIALOG is returned all the
// same, for the modal loop to collect its result.
HWND create_dialog(HINSTANCE instance, const resources::DialogTemplate& tpl, DLGPROC dialog_proc,
                   LPARAM init_param) {
    const int font_pixels = tpl.font_points > 0 ? mul_div(tpl.font_points, 96, 72) : 12;
    Window proto;
    proto.kind = Kind::Dialog;
    proto.class_name = "#32770";
    proto.dialog_proc = dialog_proc;
    proto.instance = instance;
    proto.style = tpl.style & ~static_cast<DWORD>(WS_VISIBLE); // shown after WM_INITDIALOG
    proto.text = tpl.caption;
    proto.rect = to_pixels(tpl.x, tpl.y, tpl.cx, tpl.cy, font_pixels);
    Window* d = create(std::move(proto), nullptr);
    const HWND hwnd = d->handle;
    host::create_dialog_widget(*d, tpl.font_face, font_pixels);

    for (const resources::Control& c : tpl.controls) {
        Window control;
        control.kind = Kind::Control;
        control.class_name = c.class_name;
        control.instance = instance;
        control.id = c.id;
        control.style = c.style;
        control.text = c.text;
        control.rect = to_pixels(c.x, c.y, c.cx, c.cy, font_pixels);
        Window* made = create(std::move(control), hwnd);
        host::create_control_widget(*made, *d); // no message has run: `d` still stands
    }
    const HWND first_tab_stop = next_tab_stop(*d, nullptr, false);

    // WM_INITDIALOG's answer would only set the focus now, while the dialog is hidden; nothing in
    // this subset can move the focus before the dialog is shown, which focuses the first tab stop
    // anyway.
    SendMessageA(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop), init_param);
    d = find(hwnd);
    if (!d) {
        return nullptr;
    }
    if (!d->dialog_ended && (tpl.style & WS_VISIBLE)) {
        d->visible = true;
        host::show_dialog(*d, (tpl.style & DS_CENTERMOUSE) != 0);
        // Becoming active, a dialog with no focused control gives the focus to the first tab
        // stop, even when WM_INITDIALOG said FALSE: that only kept the focus from being set then.
        Window* f = find(first_tab_stop);
        if (f && !host::focused_control(*d)) {
            host::focus(*f);
        }
    }
    return hwnd;
}

// Runs the loop until the dialog is ended, then destroys it and returns its result.
INT_PTR run_modal(HWND hwnd) {
    Window* d = nullptr;
    while ((d = find(hwnd)) && !d->dialog_ended) {
        pump_once(true);
    }
    const INT_PTR result = d ? d->dialog_result : 0;
    destroy(hwnd); // nothing when the dialog went some other way
    return result;
}

} // namespace
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
        trace::refused(
            __func__,
            !have_display()  ? "no display"
            : !template_name ? "no template name"
            : reinterpret_cast<uintptr_t>(template_name) < 0x10000
                ? "templates are known by name only, not by number"
                : "the owner is not a window",
            instance,
            reinterpret_cast<uintptr_t>(template_name) < 0x10000 ? nullptr : template_name, owner);
        return -1;
    }
    const auto tpl = resources::find_dialog(resources::embedded_resources(), template_name);
    if (!tpl) {
        trace::refused(__func__, "no such dialog in the program's resources", instance,
                       template_name, owner);
        return -1;
    }
    const HWND dialog = win::create_dialog(instance, *tpl, dialog_proc, init_param);
    return dialog ? win::run_modal(dialog) : -1;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Window* d = find(dialog);
    if (!d || d->kind != Kind::Dialog) {
        trace::refused(__func__, !d ? "not a window" : "not a dialog", dialog, result);
        return FALSE;
    }
    d->dialog_ended = true;
    d->dialog_result = result;
    d->visible = false;
    win::host::hide(*d);
    PostMessageA(dialog, WM_NULL, 0, 0); // wakes the modal loop
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    const HWND c = win::control_with_id(dialog, id);
    return c ? static_cast<UINT>(SendMessageA(c, BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    const HWND c = win::control_with_id(dialog, id);
    if (!c) {
        trace::refused(__func__, "no control with that id in the dialog", dialog, id, check);
        return FALSE;
    }
    SendMessageA(c, BM_SETCHECK, check, 0);
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Window* c = find(win::control_with_id(dialog, id));
    if (!c) {
        trace::refused(__func__, "no control with that id in the dialog", dialog, id, text);
        return FALSE;
    }
    c->text = text ? text : "";
    win::host::set_text(*c);
    return TRUE;
}

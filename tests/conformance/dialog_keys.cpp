// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard in a dialog, against the real dialog manager as much as against platform/'s: what
// Esc, Return, Tab, Space and Alt+F4 send to the dialog procedure of the program's own template
// (one push button, the only tab stop, and no default push button), and when; and what a check
// box and mnemonics do in the tests' own dialog (a push button, then an automatic check box).
#include "tests/conformance/conformance.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

namespace c = conformance;

constexpr int on_off = 1001; // Tavrene's On/Off, and the Go button of Checks
constexpr int track = 1013;  // the check box of Checks

struct Command {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const Command&) const = default;
};
std::vector<Command> got;
bool focus_first_tab_stop = true;
bool handle_close = true;

// Records the commands and answers as the program does: focus where the dialog manager puts it,
// SC_CLOSE taken (or not), everything else left to the dialog manager.
INT_PTR CALLBACK recording_dialog(HWND, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_INITDIALOG:
        return focus_first_tab_stop;
    case WM_COMMAND:
    case WM_CLOSE:
        got.push_back(Command{msg, wparam, lparam});
        return FALSE;
    case WM_SYSCOMMAND:
        got.push_back(Command{msg, wparam, lparam});
        return handle_close && wparam == SC_CLOSE;
    default:
        return FALSE;
    }
}

WPARAM clicked(int id) {
    return static_cast<WPARAM>(id & 0xFFFF) | (static_cast<WPARAM>(BN_CLICKED) << 16);
}

// A case: keys and clicks, and what the procedure must have got once they are done.
struct Step {
    enum Kind { Press, Down, Up, AltPress, Click, Check } kind;
    UINT key; // Click: the control's id; Check: what CheckDlgButton is given
};
struct KeyCase {
    const char* name;
    std::vector<Step> steps;
    // Filled with the button's handle once the dialog is up (the only lparam that is one); in
    // Checks, with the control focused at the end.
    std::vector<Command> (*expected)(HWND control);
    const char* dialog = "Tavrene";
    int checked_after = -1; // IsDlgButtonChecked of the check box at the end; -1 for none
};

// `n` clicks of the control focused at the end (which of the two, the check box's state says).
template <int n> std::vector<Command> clicks(HWND last) {
    const WPARAM id = static_cast<WPARAM>(GetWindowLongPtrA(last, GWLP_ID));
    return std::vector<Command>(n,
                                Command{WM_COMMAND, clicked(id), reinterpret_cast<LPARAM>(last)});
}
std::vector<Command> idok(HWND) {
    return {{WM_COMMAND, IDOK, 0}};
}
constexpr Step space{Step::Down, VK_SPACE}, space_up{Step::Up, VK_SPACE},
    click_box{Step::Click, track};

const KeyCase key_cases[] = {
    {"Escape cancels",
     {{Step::Press, VK_ESCAPE}},
     [](HWND) {
         return std::vector<Command>{{WM_COMMAND, IDCANCEL, 0}};
     }},
    // A focused push button that is not the default one does not take Return: the dialog gets
    // IDOK, as when no button is the default.
    {"Return on the focused plain button is IDOK",
     {{Step::Press, VK_RETURN}},
     [](HWND) {
         return std::vector<Command>{{WM_COMMAND, IDOK, 0}};
     }},
    {"Space clicks when released",
     {{Step::Down, VK_SPACE}, {Step::Up, VK_SPACE}},
     [](HWND b) {
         return std::vector<Command>{{WM_COMMAND, clicked(on_off), reinterpret_cast<LPARAM>(b)}};
     }},
    // Tab moves the focus with the dialog manager, and a push button it moves to becomes the
    // default one: Return then clicks it.
    {"Tab makes the button the default one",
     {{Step::Press, VK_TAB}, {Step::Press, VK_RETURN}},
     [](HWND b) {
         return std::vector<Command>{{WM_COMMAND, clicked(on_off), reinterpret_cast<LPARAM>(b)}};
     }},
    // A mouse click focuses the button but does not make it the default one.
    {"Click, then Return",
     {{Step::Click, on_off}, {Step::Press, VK_RETURN}},
     [](HWND b) {
         return std::vector<Command>{{WM_COMMAND, clicked(on_off), reinterpret_cast<LPARAM>(b)},
                                     {WM_COMMAND, IDOK, 0}};
     }},
    {"Alt+F4 asks to close",
     {{Step::AltPress, VK_F4}},
     [](HWND) {
         return std::vector<Command>{{WM_SYSCOMMAND, SC_CLOSE, 0}};
     }},
    // An automatic check box turns over before it tells the dialog, by key or by click.
    {"Space on the box", {{Step::Press, VK_TAB}, space, space_up}, clicks<1>, "Checks", 1},
    {"Two clicks", {{Step::Press, VK_TAB}, click_box, click_box}, clicks<2>, "Checks", 0},
    {"Return on the box", {{Step::Press, VK_TAB}, {Step::Press, VK_RETURN}}, idok, "Checks", 0},
    // A mnemonic focuses its control and clicks it; with no control that takes characters, the
    // letter alone is one too.
    {"Alt+T from the button", {{Step::AltPress, 'T'}}, clicks<1>, "Checks", 1},
    {"T alone", {{Step::Press, 'T'}}, clicks<1>, "Checks", 1},
    {"Alt+G from the box", {{Step::Press, VK_TAB}, {Step::AltPress, 'G'}}, clicks<1>, "Checks", 0},
    // Set by the program, a box says nothing; a two-state box takes BST_INDETERMINATE as checked.
    {"CheckDlgButton",
     {{Step::Check, 1}, {Step::Check, 0}, {Step::Check, 2}},
     clicks<0>,
     "Checks",
     1},
};

std::string describe(const std::vector<Command>& commands) {
    std::ostringstream out;
    for (const Command& m : commands) {
        out << "{" << m.msg << ", " << m.wparam << ", " << m.lparam << "} ";
    }
    return out.str();
}

class Win32DialogKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        got.clear();
        focus_first_tab_stop = true;
        handle_close = true;
    }
};

TEST_F(Win32DialogKeys, EachKeySendsWhatTheDialogManagerSends) {
    for (const KeyCase& k : key_cases) {
        got.clear();
        HWND button = nullptr;
        std::vector<Command> expected;
        int checked = -1;
        bool space_down_clicked = false;
        bool open_after = false;
        c::run_dialog(k.dialog, recording_dialog, [&](HWND dialog) {
            c::pump_for(20);
            button = c::focused_control(dialog);
            for (const Step& s : k.steps) {
                switch (s.kind) {
                case Step::Press:
                    c::press_key(dialog, s.key);
                    break;
                case Step::AltPress:
                    c::press_key(dialog, s.key, true);
                    break;
                case Step::Down:
                    c::key(dialog, s.key, true);
                    c::pump_for(20);
                    space_down_clicked = !got.empty();
                    break;
                case Step::Up:
                    c::key(dialog, s.key, false);
                    break;
                case Step::Click:
                    c::click(dialog, static_cast<int>(s.key));
                    break;
                case Step::Check:
                    CheckDlgButton(dialog, track, s.key);
                    break;
                }
                c::pump_for(20);
            }
            const HWND last = c::focused_control(dialog);
            open_after = last != nullptr;
            expected = k.expected(k.dialog == std::string("Checks") ? last : button); // still there
            if (k.checked_after >= 0) {
                checked = static_cast<int>(IsDlgButtonChecked(dialog, track));
            }
        });
        EXPECT_NE(button, nullptr) << k.name;
        EXPECT_TRUE(open_after) << k.name << ": the focus went away";
        EXPECT_FALSE(space_down_clicked) << k.name << ": clicked before the key came up";
        EXPECT_EQ(got, expected) << k.name << ": got " << describe(got);
        EXPECT_EQ(checked, k.checked_after) << k.name;
    }
}

// WM_INITDIALOG's FALSE only keeps the dialog manager from setting the focus then: the dialog
// becoming active gives it to the first tab stop all the same.
TEST_F(Win32DialogKeys, TheFirstTabStopHasTheFocusWhateverWmInitDialogReturns) {
    for (const bool initial : {true, false}) {
        focus_first_tab_stop = initial;
        LONG_PTR focused_id = 0;
        c::run_dialog("Tavrene", recording_dialog, [&](HWND dialog) {
            HWND focused = c::focused_control(dialog);
            focused_id = focused ? GetWindowLongPtrA(focused, GWLP_ID) : 0;
        });
        EXPECT_EQ(focused_id, on_off) << "WM_INITDIALOG returned " << initial;
    }
}

TEST_F(Win32DialogKeys, UnhandledCloseBecomesCloseThenCancelAndTheDialogStays) {
    handle_close = false;
    bool open_after = false;
    const INT_PTR result = c::run_dialog("Tavrene", recording_dialog, [&](HWND dialog) {
        c::press_key(dialog, VK_F4, true);
        c::pump_for(50);
        open_after = c::focused_control(dialog) != nullptr;
    });
    EXPECT_EQ(result, 7);
    EXPECT_TRUE(open_after);
    ASSERT_EQ(got.size(), 3u) << describe(got);
    EXPECT_EQ(got[0], (Command{WM_SYSCOMMAND, SC_CLOSE, 0}));
    EXPECT_EQ(got[1], (Command{WM_CLOSE, 0, 0}));
    EXPECT_EQ(got[2].msg, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(got[2].wparam, clicked(IDCANCEL));
}

} // namespace

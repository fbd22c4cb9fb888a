// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard in a dialog, against the real dialog manager as much as against platform/'s: what
// Esc, Return, Tab, Space and Alt+F4 send to the dialog procedure of the program's own template
// (one push button, the only tab stop, and no default push button), and when.
#include "tests/conformance/conformance.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

namespace c = conformance;

constexpr int on_off = 1001;

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
    enum Kind { Press, Down, Up, AltPress, Click } kind;
    UINT key;
};
struct KeyCase {
    const char* name;
    std::vector<Step> steps;
    // Filled with the button's handle once the dialog is up (the only lparam that is one).
    std::vector<Command> (*expected)(HWND button);
};

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
     {{Step::Click, 0}, {Step::Press, VK_RETURN}},
     [](HWND b) {
         return std::vector<Command>{{WM_COMMAND, clicked(on_off), reinterpret_cast<LPARAM>(b)},
                                     {WM_COMMAND, IDOK, 0}};
     }},
    {"Alt+F4 asks to close",
     {{Step::AltPress, VK_F4}},
     [](HWND) {
         return std::vector<Command>{{WM_SYSCOMMAND, SC_CLOSE, 0}};
     }},
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
        bool space_down_clicked = false;
        bool open_after = false;
        c::run_dialog("Tavrene", recording_dialog, [&](HWND dialog) {
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
                    c::click(dialog, on_off);
                    break;
                }
                c::pump_for(20);
            }
            open_after = c::focused_control(dialog) != nullptr;
        });
        EXPECT_NE(button, nullptr) << k.name;
        EXPECT_TRUE(open_after) << k.name << ": the focus went away";
        EXPECT_FALSE(space_down_clicked) << k.name << ": clicked before the key came up";
        EXPECT_EQ(got, k.expected(button)) << k.name << ": got " << describe(got);
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

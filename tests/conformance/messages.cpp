// SPDX-License-Identifier: GPL-3.0-or-later
// Windows and their messages, against Windows as much as against the Qt host: class rules, the
// creation and destruction sequences, posted-message order, paint priority and erasing.
// Windows sends many more messages than these tests look at (sizing, activation, frames): each
// test picks the ones its rule is about.
#include "tests/conformance/conformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

namespace c = conformance;

struct Seen {
    HWND hwnd;
    UINT msg;
};
std::vector<Seen> seen;

bool recorded(UINT msg) {
    switch (msg) {
    case WM_NCCREATE:
    case WM_CREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_PAINT:
    case WM_ERASEBKGND:
    case WM_CLOSE:
    case WM_TIMER:
        return true;
    default:
        return msg >= WM_USER && msg < WM_USER + 0x100;
    }
}

LRESULT CALLBACK recording_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (recorded(msg)) {
        seen.push_back(Seen{hwnd, msg});
    }
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

std::vector<UINT> messages_to(HWND hwnd) {
    std::vector<UINT> out;
    for (const Seen& s : seen) {
        if (s.hwnd == hwnd) {
            out.push_back(s.msg);
        }
    }
    return out;
}

bool register_class(const char* name, WNDPROC proc) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = c::instance();
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

bool alive(HWND hwnd) {
    RECT r;
    return GetClientRect(hwnd, &r) != FALSE;
}

class Win32Messages : public ::testing::Test {
  protected:
    void SetUp() override {
        static const bool registered = register_class("TwConformanceRecorder", recording_proc);
        ASSERT_TRUE(registered);
        seen.clear();
    }
    void TearDown() override {
        for (HWND h : created) {
            DestroyWindow(h);
        }
        c::drain();
    }
    HWND top(DWORD style = WS_POPUP | WS_VISIBLE) {
        HWND h = CreateWindowExA(0, "TwConformanceRecorder", "top", style, 0, 0, 200, 150, nullptr,
                                 nullptr, c::instance(), nullptr);
        created.push_back(h);
        return h;
    }
    static HWND child(HWND parent, int x, int y, DWORD extra = WS_BORDER) {
        return CreateWindowExA(0, "TwConformanceRecorder", nullptr, WS_CHILD | WS_VISIBLE | extra,
                               x, y, 91, 91, parent, nullptr, c::instance(), nullptr);
    }
    std::vector<HWND> created;
};

TEST_F(Win32Messages, ClassRegistrationRules) {
    EXPECT_TRUE(register_class("TwOnce", recording_proc));
    EXPECT_FALSE(register_class("TwOnce", recording_proc));
    EXPECT_FALSE(register_class("twonce", recording_proc)) << "class names ignore case";

    WNDCLASSEXA bad{};
    bad.cbSize = sizeof(bad) - 1;
    bad.lpfnWndProc = recording_proc;
    bad.hInstance = c::instance();
    bad.lpszClassName = "TwBadSize";
    EXPECT_EQ(RegisterClassExA(&bad), 0);
    EXPECT_EQ(CreateWindowExA(0, "TwNoSuchClass", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              c::instance(), nullptr),
              nullptr);
    // A child needs a parent.
    EXPECT_EQ(CreateWindowExA(0, "TwConformanceRecorder", nullptr, WS_CHILD, 0, 0, 10, 10, nullptr,
                              nullptr, c::instance(), nullptr),
              nullptr);
}

TEST_F(Win32Messages, CreationSendsNcCreateThenCreateAndPaintsOnlyAfterReturning) {
    HWND parent = top();
    c::drain();
    seen.clear();
    HWND pane = child(parent, 20, 26);
    ASSERT_NE(pane, nullptr);
    const std::vector<UINT> during = messages_to(pane);
    ASSERT_GE(during.size(), 2u);
    EXPECT_EQ(during[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(during[1], static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(std::count(during.begin(), during.end(), WM_PAINT), 0);
    c::drain();
    const std::vector<UINT> after = messages_to(pane);
    EXPECT_EQ(std::count(after.begin(), after.end(), WM_PAINT), 1);
}

TEST_F(Win32Messages, BorderedChildHasAnInsetClientArea) {
    HWND parent = top();
    RECT client{};
    ASSERT_TRUE(GetClientRect(child(parent, 20, 26), &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 89);
    EXPECT_EQ(client.bottom, 89);
    ASSERT_TRUE(GetClientRect(child(parent, 0, 0, 0), &client));
    EXPECT_EQ(client.right, 91);
    EXPECT_EQ(client.bottom, 91);
}

TEST_F(Win32Messages, PostedMessagesKeepOrderAndComeBeforePaint) {
    HWND w = top();
    c::drain();
    seen.clear();
    InvalidateRect(w, nullptr, TRUE);
    for (UINT i = 0; i < 5; ++i) {
        EXPECT_TRUE(PostMessageA(w, WM_USER + i, i, 0));
    }
    c::drain();
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_USER, WM_USER + 1, WM_USER + 2, WM_USER + 3,
                                                 WM_USER + 4, WM_PAINT, WM_ERASEBKGND}))
        << "erase comes from inside BeginPaint";
}

TEST_F(Win32Messages, SendMessageCallsTheProcedureAtOnce) {
    static auto answer = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_USER ? static_cast<LRESULT>(w * 2 + l) : DefWindowProcA(h, m, w, l);
    };
    ASSERT_TRUE(register_class("TwAnswer", answer));
    HWND w = CreateWindowExA(0, "TwAnswer", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             c::instance(), nullptr);
    created.push_back(w);
    EXPECT_EQ(SendMessageA(w, WM_USER, 20, 2), 42);
}

TEST_F(Win32Messages, InvalidationsMergeIntoOnePaintAndEraseOnlyWhenAsked) {
    HWND w = top();
    c::drain();
    seen.clear();
    InvalidateRect(w, nullptr, FALSE);
    InvalidateRect(w, nullptr, FALSE);
    c::drain();
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_PAINT}));
    seen.clear();
    InvalidateRect(w, nullptr, FALSE);
    InvalidateRect(w, nullptr, TRUE);
    c::drain();
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
}

TEST_F(Win32Messages, HiddenWindowsAreNotPainted) {
    HWND hidden = top(WS_POPUP);
    c::drain();
    seen.clear();
    InvalidateRect(hidden, nullptr, TRUE);
    c::drain();
    EXPECT_TRUE(messages_to(hidden).empty());
}

TEST_F(Win32Messages, DestroyingAParentDestroysChildrenAndDropsTheirMessages) {
    HWND parent = top();
    HWND a = child(parent, 0, 0);
    HWND b = child(parent, 10, 10);
    c::drain();
    PostMessageA(a, WM_USER, 0, 0);
    SetTimer(b, 1, 10, nullptr);
    seen.clear();
    ASSERT_TRUE(DestroyWindow(parent));
    created.clear();
    EXPECT_FALSE(alive(a));
    EXPECT_FALSE(alive(b));
    // WM_DESTROY parent first, WM_NCDESTROY children first.
    std::vector<std::pair<HWND, UINT>> order;
    for (const Seen& s : seen) {
        order.emplace_back(s.hwnd, s.msg);
    }
    const std::vector<std::pair<HWND, UINT>> expected{{parent, WM_DESTROY}, {a, WM_DESTROY},
                                                      {b, WM_DESTROY},      {a, WM_NCDESTROY},
                                                      {b, WM_NCDESTROY},    {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    seen.clear();
    c::pump_for(50);
    EXPECT_TRUE(seen.empty()) << "a posted message or a timer outlived its window";
    EXPECT_FALSE(PostMessageA(a, WM_USER, 0, 0));
    EXPECT_FALSE(DestroyWindow(a));
    EXPECT_EQ(SetTimer(b, 1, 10, nullptr), 0u);
}

TEST_F(Win32Messages, GetWindowLongPtrGivesInstanceAndId) {
    HWND parent = top();
    HWND control = CreateWindowExA(0, "TwConformanceRecorder", nullptr, WS_CHILD, 0, 0, 5, 5,
                                   parent, reinterpret_cast<HMENU>(77), c::instance(), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(control, GWLP_HINSTANCE),
              reinterpret_cast<LONG_PTR>(c::instance()));
    EXPECT_EQ(GetWindowLongPtrA(control, GWLP_ID), 77);
}

TEST_F(Win32Messages, DefWindowProcCloseDestroys) {
    HWND w = top();
    seen.clear();
    SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(alive(w));
    const std::vector<UINT> got = messages_to(w);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], static_cast<UINT>(WM_CLOSE)) << "SC_CLOSE asks first";
    EXPECT_EQ(got[1], static_cast<UINT>(WM_DESTROY));
    created.clear();
}

} // namespace

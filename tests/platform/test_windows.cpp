// Conformance of windows and messages: creation, the tree, posted-message order, paint
// priority, erase and the bordered client area.
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
};
std::vector<Seen> seen;
bool paint_in_proc = true;

LRESULT CALLBACK recording_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    seen.push_back(Seen{hwnd, msg, wparam});
    if (msg == WM_PAINT && paint_in_proc) {
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

bool register_class(const char* name, WNDPROC proc, int brush = GRAY_BRUSH) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(brush));
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

class Windows : public ::testing::Test {
  protected:
    void SetUp() override {
        seen.clear();
        paint_in_proc = true;
        static bool registered = register_class("TwRecorder", recording_proc);
        ASSERT_TRUE(registered);
    }
    void TearDown() override {
        for (HWND h : created) {
            DestroyWindow(h);
        }
    }
    HWND top(DWORD style = WS_VISIBLE) {
        HWND h = CreateWindowExA(0, "TwRecorder", "top", style, 0, 0, 200, 150, nullptr, nullptr,
                                 nullptr, nullptr);
        created.push_back(h);
        return h;
    }
    HWND child(HWND parent, int x, int y, DWORD extra = WS_BORDER) {
        return CreateWindowExA(0, "TwRecorder", nullptr, WS_CHILD | WS_VISIBLE | extra, x, y, 91,
                               91, parent, nullptr, nullptr, nullptr);
    }
    static void drain() {
        while (platform::pump_once(false)) {
        }
    }
    std::vector<HWND> created;
};

TEST_F(Windows, ClassRegistrationRules) {
    EXPECT_TRUE(register_class("TwOnce", recording_proc));
    EXPECT_FALSE(register_class("TwOnce", recording_proc));
    EXPECT_FALSE(register_class("twonce", recording_proc)) << "class names ignore case";

    WNDCLASSEXA bad{};
    bad.cbSize = sizeof(bad) - 1;
    bad.lpfnWndProc = recording_proc;
    bad.lpszClassName = "TwBadSize";
    EXPECT_EQ(RegisterClassExA(&bad), 0);
    EXPECT_EQ(CreateWindowExA(0, "TwNoSuchClass", nullptr, WS_VISIBLE, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr),
              nullptr);
    // A child needs a parent.
    EXPECT_EQ(CreateWindowExA(0, "TwRecorder", nullptr, WS_CHILD, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
}

TEST_F(Windows, CreationSendsNcCreateThenCreateAndPaintsOnlyAfterReturning) {
    HWND parent = top();
    drain();
    seen.clear();
    HWND pane = child(parent, 20, 26);
    ASSERT_NE(pane, nullptr);
    std::vector<UINT> during = messages_to(pane);
    ASSERT_GE(during.size(), 2u);
    EXPECT_EQ(during[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(during[1], static_cast<UINT>(WM_CREATE));
    for (UINT m : during) {
        EXPECT_NE(m, static_cast<UINT>(WM_PAINT));
    }
    drain();
    std::vector<UINT> after = messages_to(pane);
    ASSERT_GT(after.size(), during.size());
    EXPECT_EQ(after[during.size()], static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(platform::testing::paint_count(pane), 1);
}

TEST_F(Windows, RefusedCreationReturnsNull) {
    static auto refuse = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_CREATE ? -1 : DefWindowProcA(h, m, w, l);
    };
    ASSERT_TRUE(register_class("TwRefuse", refuse));
    const int before = platform::testing::window_count();
    EXPECT_EQ(CreateWindowExA(0, "TwRefuse", nullptr, WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(platform::testing::window_count(), before);
}

TEST_F(Windows, BorderedChildHasInsetClientAndBlackFrame) {
    HWND parent = top();
    HWND pane = child(parent, 20, 26);
    RECT client{};
    ASSERT_TRUE(GetClientRect(pane, &client));
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 89);
    EXPECT_EQ(client.bottom, 89);
    const RECT placed = platform::testing::window_rect(pane);
    EXPECT_EQ(placed.left, 20);
    EXPECT_EQ(placed.top, 26);
    EXPECT_EQ(placed.right, 111);
    EXPECT_EQ(placed.bottom, 117);
    drain();
    const auto* pixels = platform::testing::window_pixels(pane);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->width, 91);
    for (int i = 0; i < 91; ++i) {
        EXPECT_EQ(pixels->at(i, 0), 0u);
        EXPECT_EQ(pixels->at(i, 90), 0u);
        EXPECT_EQ(pixels->at(0, i), 0u);
        EXPECT_EQ(pixels->at(90, i), 0u);
    }
    // The erase filled the whole client with the class brush, and nothing else.
    EXPECT_EQ(pixels->at(1, 1), 0x808080u);
    EXPECT_EQ(pixels->at(89, 89), 0x808080u);

    HWND plain = child(parent, 0, 0, 0);
    ASSERT_TRUE(GetClientRect(plain, &client));
    EXPECT_EQ(client.right, 91);
}

TEST_F(Windows, PostedMessagesKeepOrderAndComeBeforePaint) {
    HWND w = top();
    drain();
    seen.clear();
    InvalidateRect(w, nullptr, TRUE);
    for (UINT i = 0; i < 5; ++i) {
        EXPECT_TRUE(PostMessageA(w, WM_USER + i, i, 0));
    }
    drain();
    std::vector<UINT> got = messages_to(w);
    ASSERT_GE(got.size(), 6u);
    for (UINT i = 0; i < 5; ++i) {
        EXPECT_EQ(got[i], WM_USER + i);
    }
    EXPECT_EQ(got[5], static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(got[6], static_cast<UINT>(WM_ERASEBKGND)) << "erase comes from inside BeginPaint";
}

TEST_F(Windows, SendMessageCallsTheProcedureAtOnce) {
    static auto answer = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_USER ? static_cast<LRESULT>(w * 2 + l) : DefWindowProcA(h, m, w, l);
    };
    ASSERT_TRUE(register_class("TwAnswer", answer));
    HWND w = CreateWindowExA(0, "TwAnswer", nullptr, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                             nullptr);
    created.push_back(w);
    EXPECT_EQ(SendMessageA(w, WM_USER, 20, 2), 42);
}

TEST_F(Windows, InvalidationsMergeIntoOnePaintAndEraseOnlyWhenAsked) {
    HWND w = top();
    drain();
    seen.clear();
    InvalidateRect(w, nullptr, FALSE);
    InvalidateRect(w, nullptr, FALSE);
    drain();
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_PAINT}));
    seen.clear();
    InvalidateRect(w, nullptr, FALSE);
    InvalidateRect(w, nullptr, TRUE);
    drain();
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
}

TEST_F(Windows, HiddenWindowsAreNotPainted) {
    HWND hidden = top(0);
    InvalidateRect(hidden, nullptr, TRUE);
    drain();
    EXPECT_EQ(platform::testing::paint_count(hidden), 0);
}

TEST_F(Windows, DestroyingAParentDestroysChildrenAndDropsTheirMessages) {
    HWND parent = top();
    HWND a = child(parent, 0, 0);
    HWND b = child(parent, 10, 10);
    EXPECT_EQ(platform::testing::child_windows(parent), (std::vector<HWND>{a, b}));
    drain();
    PostMessageA(a, WM_USER, 0, 0);
    SetTimer(b, 1, 10, nullptr);
    seen.clear();
    ASSERT_TRUE(DestroyWindow(parent));
    created.clear();
    EXPECT_FALSE(platform::testing::is_window(a));
    EXPECT_FALSE(platform::testing::is_window(b));
    // WM_DESTROY parent first, WM_NCDESTROY children first.
    std::vector<std::pair<HWND, UINT>> order;
    order.reserve(seen.size());
    for (const Seen& s : seen) {
        order.emplace_back(s.hwnd, s.msg);
    }
    const std::vector<std::pair<HWND, UINT>> expected{{parent, WM_DESTROY}, {a, WM_DESTROY},
                                                      {b, WM_DESTROY},      {a, WM_NCDESTROY},
                                                      {b, WM_NCDESTROY},    {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    seen.clear();
    platform::pump_for(50'000);
    EXPECT_TRUE(seen.empty()) << "a posted message or a timer outlived its window";
    EXPECT_FALSE(PostMessageA(a, WM_USER, 0, 0));
    EXPECT_FALSE(DestroyWindow(a));
    EXPECT_EQ(SetTimer(b, 1, 10, nullptr), 0u);
}

TEST_F(Windows, GetWindowLongPtrGivesInstanceAndId) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x1234);
    HWND parent = top();
    HWND c = CreateWindowExA(0, "TwRecorder", nullptr, WS_CHILD, 0, 0, 5, 5, parent,
                             reinterpret_cast<HMENU>(77), instance, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(c, GWLP_HINSTANCE), 0x1234);
    EXPECT_EQ(GetWindowLongPtrA(c, GWLP_ID), 77);
}

TEST_F(Windows, DefWindowProcCloseDestroys) {
    HWND w = top();
    SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(platform::testing::is_window(w));
    created.clear();
}

} // namespace

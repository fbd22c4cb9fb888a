// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_fixture.h"

#include <random>
#include <set>

namespace {

// Counts what the streams hold, so that every run can be checked for leaks.
struct CountingHeap {
    static inline std::set<void*> held;
    static void* allocate(size_t bytes) {
        void* p = std::malloc(bytes);
        held.insert(p);
        return p;
    }
    static void release(void* p) {
        held.erase(p);
        std::free(p);
    }
};

using Stress = AppTest;

// Random presses and close requests at random moments, so that they land in every state of the
// tone (opening, playing, stopping, off). After each run nothing is held and no window is left;
// whenever things have settled the button names what the next press does.
TEST_F(Stress, FiveHundredRandomPressesAndClosesNeverStrandTheDialog) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> delay_ms(0, 450);
    std::uniform_int_distribution<int> action(0, 9);
    const StreamHeap saved = stream_heap;
    stream_heap = {CountingHeap::allocate, CountingHeap::release};
    const int windows_before = platform::testing::window_count();

    int actions = 0;
    int runs = 0;
    int settled_checks = 0;
    while (actions < 500) {
        ++runs;
        int64_t close_asked = -1;
        const int code = run([&](HWND dialog) {
            for (;;) {
                run_for_ms(delay_ms(rng));
                ++actions;
                const int a = action(rng);
                if (a == 0 || actions >= 500) {
                    close_asked = platform::now_us();
                    platform::testing::close_box(dialog);
                    if (action(rng) < 3) { // sometimes the user insists
                        run_for_ms(delay_ms(rng) / 10);
                        platform::testing::close_box(dialog);
                        ++actions;
                    }
                    return;
                }
                platform::testing::click(dialog, on_off_button_id);
                if (a == 1) {
                    // Let everything settle and check that the state is consistent.
                    run_for_ms(1500);
                    ++settled_checks;
                    const bool on = tone_device != nullptr;
                    const std::string text = button(dialog);
                    EXPECT_EQ(text == "Off", on) << "button reads " << text;
                    EXPECT_EQ(reference_area(dialog), on ? "Scope2" : "Scope1");
                    EXPECT_FALSE(on && tone_stopping);
                }
            }
        });
        const int64_t ended = platform::now_us();
        ASSERT_EQ(code, 0);
        ASSERT_GE(close_asked, 0);
        // A close ends the dialog once any playing block has been cut short: well within 1 s.
        EXPECT_LT(ended - close_asked, 1'000'000) << "run " << runs;
        EXPECT_EQ(tone_device, nullptr);
        EXPECT_TRUE(CountingHeap::held.empty()) << "run " << runs;
        EXPECT_EQ(platform::testing::window_count(), windows_before) << "run " << runs;
        tone_exit_pending = false;
    }
    stream_heap = saved;
    std::printf("%d actions over %d runs, %d settled checks\n", actions, runs, settled_checks);
    EXPECT_GT(runs, 20);
    EXPECT_GT(settled_checks, 20);
}

} // namespace

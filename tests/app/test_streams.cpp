// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_fixture.h"

#include "dsp/bandpass.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

using Streams = AppTest;

TEST_F(Streams, StartStopStartCarriesThePhaseOnAndTheButtonFollows) {
    std::vector<std::string> texts;
    double phase_at_restart = -1.0;
    size_t played_before_restart = 0;
    const int code = run([&](HWND dialog) {
        texts.push_back(button(dialog));
        press_and_wait(dialog, "Off");
        texts.push_back(button(dialog));
        EXPECT_EQ(reference_area(dialog), "Scope2");
        run_for_ms(3000);
        press_and_wait(dialog, "On");
        texts.push_back(button(dialog));
        EXPECT_EQ(reference_area(dialog), "Scope1");
        EXPECT_EQ(tone_device, nullptr);

        // Everything played so far is the synthesizer's sequence from where the test began.
        const auto& played = path->played();
        played_before_restart = played.size();
        EXPECT_GT(played.size(), 3u * 11025u - 4096u);
        EXPECT_EQ(played, tone_from(start_phase, played.size()));

        // Blocks cut short by the stop had already advanced the phase; the next tone goes on
        // from there, not from where the sound stopped.
        phase_at_restart = dsp::tone_phase();
        press_and_wait(dialog, "Off");
        texts.push_back(button(dialog));
        run_for_ms(1000);
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(texts, (std::vector<std::string>{"On/Off", "Off", "On", "Off"}));
    const auto& played = path->played();
    ASSERT_GT(played.size(), played_before_restart + 8000);
    const std::vector<unsigned char> second(played.begin() + played_before_restart, played.end());
    EXPECT_EQ(second, tone_from(phase_at_restart, second.size()));
}

TEST_F(Streams, TheOutputNeverRunsDryWhileTheTonePlays) {
    run([&](HWND dialog) {
        press_and_wait(dialog, "Off");
        run_for_ms(10'000);
        EXPECT_EQ(path->underrun_bytes(), 0u);
        EXPECT_NEAR(static_cast<double>(path->played().size()), 10.0 * 11025, 11025 * 0.1);
        platform::testing::close_box(dialog);
    });
}

TEST_F(Streams, CloseWhilePlayingStopsTheToneThenEnds) {
    size_t played_at_close = 0;
    std::string text_at_end;
    std::string pane_at_end;
    const int code = run([&](HWND dialog) {
        press_and_wait(dialog, "Off");
        run_for_ms(500);
        played_at_close = path->played().size();
        platform::testing::close_box(dialog);
        EXPECT_FALSE(path->input_started()) << "the close request leaves capture running";
        // Still there until the output device reports it has closed.
        EXPECT_TRUE(platform::testing::is_window(dialog));
        EXPECT_TRUE(tone_exit_pending);
        EXPECT_TRUE(run_until([&] { return button(dialog) == "On"; }, 1000));
        text_at_end = button(dialog);
        pane_at_end = reference_area(dialog);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text_at_end, "On");
    EXPECT_EQ(pane_at_end, "Scope1");
    // The reset cut the tone at once: at most one pacing period more.
    EXPECT_LE(path->played().size(), played_at_close + 11025 / 50);
}

TEST_F(Streams, PressWhileOpeningPlaysBothBlocksOutThenStops) {
    const int code = run([&](HWND dialog) {
        platform::testing::click(dialog, on_off_button_id);
        ASSERT_NE(tone_device, nullptr);
        EXPECT_EQ(button(dialog), "On/Off"); // the open report has not arrived yet
        platform::testing::click(dialog, on_off_button_id);
        EXPECT_TRUE(tone_stopping);
        EXPECT_TRUE(run_until([&] { return button(dialog) == "Off"; }, 1000));
        EXPECT_TRUE(run_until([&] { return button(dialog) == "On"; }, 2000));
        EXPECT_EQ(reference_area(dialog), "Scope1");
        EXPECT_EQ(path->played().size(), 2 * dsp::tone_block_bytes);
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
}

TEST_F(Streams, SecondCloseWhileStoppingStillEndsTheDialog) {
    const int code = run([&](HWND dialog) {
        press_and_wait(dialog, "Off");
        run_for_ms(300);
        platform::testing::close_box(dialog);
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(tone_device, nullptr);
}

TEST_F(Streams, NoInputDeviceWarnsOnceAndLeavesTheToneUsable) {
    path->set_input_absent(true);
    const int code = run([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        run_for_ms(100);
        const auto* pixels = platform::testing::window_pixels(xy);
        int gray_pixels = 0;
        for (int y = 1; y <= 89; ++y) {
            for (int x = 1; x <= 89; ++x) {
                gray_pixels += pixels->at(x, y) == 0x808080;
            }
        }
        EXPECT_EQ(gray_pixels, 89 * 89);
        press_and_wait(dialog, "Off");
        run_for_ms(500);
        press_and_wait(dialog, "On");
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    const auto boxes = platform::testing::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error opening waveform audio device!");
    EXPECT_EQ(boxes[0].caption, "Tavrene");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
    EXPECT_NE(boxes[0].owner, nullptr);
    EXPECT_EQ(platform::testing::beep_count(), 1);
}

TEST_F(Streams, NoOutputDeviceWarnsOnEveryPressAndKeepsTheButtonText) {
    path->set_output_absent(true);
    const int code = run([&](HWND dialog) {
        for (int i = 0; i < 3; ++i) {
            platform::testing::click(dialog, on_off_button_id);
            run_for_ms(200);
            EXPECT_EQ(button(dialog), "On/Off");
            EXPECT_EQ(reference_area(dialog), "Scope1");
        }
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    const auto boxes = platform::testing::message_boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.text, "Error opening waveform output audio device!");
        EXPECT_EQ(box.caption, "Tavrene");
    }
    EXPECT_EQ(platform::testing::beep_count(), 3);
}

// The output goes away while the tone plays (device unplugged, server stopped): the blocks come
// back, refilling them fails, and the tone stops as Off stops it, without a box of its own. The
// next press finds no device and says so.
TEST_F(Streams, AnOutputLostWhilePlayingStopsTheToneAsOffDoes) {
    const int code = run([&](HWND dialog) {
        press_and_wait(dialog, "Off");
        run_for_ms(500);
        path->die_at(platform::now_us() + 100'000);
        EXPECT_TRUE(run_until([&] { return button(dialog) == "On"; }, 1000));
        EXPECT_EQ(tone_device, nullptr);
        EXPECT_EQ(reference_area(dialog), "Scope1");
        EXPECT_TRUE(platform::testing::message_boxes().empty());
        platform::testing::click(dialog, on_off_button_id);
        run_for_ms(200);
        EXPECT_EQ(button(dialog), "On");
        platform::testing::close_box(dialog);
    });
    EXPECT_EQ(code, 0);
    const auto boxes = platform::testing::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error opening waveform output audio device!");
}

// A heap whose n-th allocation fails, and which knows what is still held.
struct FailingHeap {
    static inline int fail_at = 0;
    static inline int count = 0;
    static inline std::set<void*> held;
    static void* allocate(size_t bytes) {
        if (++count == fail_at) {
            return nullptr;
        }
        void* p = std::malloc(bytes);
        held.insert(p);
        return p;
    }
    static void release(void* p) {
        EXPECT_EQ(held.erase(p), 1u) << "freed something not held";
        std::free(p);
    }
};

TEST_F(Streams, EveryAllocationFailingInTurnWarnsLeaksNothingAndKeepsTheDialogUsable) {
    // 1, 2: the capture record and block at start-up; 3 to 6: the tone's two records and two
    // blocks at the first press.
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        platform::testing::clear_records();
        FailingHeap::fail_at = n;
        FailingHeap::count = 0;
        FailingHeap::held.clear();
        const StreamHeap saved = stream_heap;
        stream_heap = {FailingHeap::allocate, FailingHeap::release};
        const int code = run([&](HWND dialog) {
            if (n <= 2) {
                EXPECT_EQ(capture_block, nullptr);
                EXPECT_EQ(FailingHeap::held.size(), 0u) << "the record is freed at once";
                press_and_wait(dialog, "Off"); // the format does not depend on capture
            } else {
                EXPECT_NE(capture_block, nullptr);
                platform::testing::click(dialog, on_off_button_id);
                run_for_ms(100);
                EXPECT_EQ(button(dialog), "On/Off");
                EXPECT_EQ(tone_device, nullptr);
                EXPECT_EQ(FailingHeap::held.size(), 2u) << "only the capture's two remain";
                press_and_wait(dialog, "Off");
            }
            run_for_ms(500);
            press_and_wait(dialog, "On");
            platform::testing::close_box(dialog);
        });
        stream_heap = saved;
        EXPECT_EQ(code, 0);
        const auto boxes = platform::testing::message_boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Error allocating memory!");
        EXPECT_EQ(boxes[0].caption, "Tavrene");
        EXPECT_EQ(FailingHeap::held.size(), 0u) << "everything is freed by the end of the run";
    }
}

// Yellow pixels of the XY pane, client coordinates.
std::set<std::pair<int, int>> figure(HWND pane) {
    std::set<std::pair<int, int>> pixels;
    const auto* s = platform::testing::window_pixels(pane);
    for (int y = 0; y < 89; ++y) {
        for (int x = 0; x < 89; ++x) {
            if (s->at(x + 1, y + 1) == 0xFFFF64) {
                pixels.insert({x, y});
            }
        }
    }
    return pixels;
}

double overlap(const std::set<std::pair<int, int>>& a, const std::set<std::pair<int, int>>& b) {
    size_t common = 0;
    for (const auto& p : a) {
        common += b.count(p);
    }
    const size_t all = a.size() + b.size() - common;
    return all == 0 ? 1.0 : static_cast<double>(common) / static_cast<double>(all);
}

// Mean overlap of the figures of successive looks 90 ms apart over two seconds.
double figure_steadiness(AppTest& t, double df, const std::string& picture) {
    t.path->set_df(df);
    double total = 0.0;
    int looks = 0;
    t.run([&](HWND dialog) {
        AppTest::press_and_wait(dialog, "Off");
        AppTest::run_for_ms(1000);
        HWND xy = AppTest::xy_pane_of(dialog);
        auto previous = figure(xy);
        for (int i = 0; i < 22; ++i) {
            AppTest::run_for_ms(90);
            auto now = figure(xy);
            total += overlap(previous, now);
            ++looks;
            previous = std::move(now);
        }
        platform::testing::save_screenshot(dialog, artifact_path(picture));
        platform::testing::close_box(dialog);
    });
    return total / looks;
}

TEST_F(Streams, FigureStandsStillAtZeroOffsetAndDriftsOtherwise) {
    const double still = figure_steadiness(*this, 0.0, "figure-df0.png");
    TearDown();
    SetUp();
    const double drifting = figure_steadiness(*this, 3.0, "figure-df3.png");
    RecordProperty("overlap_df0", std::to_string(still));
    RecordProperty("overlap_df3", std::to_string(drifting));
    std::printf("figure overlap of successive repaints: df=0 %.3f, df=3 Hz %.3f\n", still,
                drifting);
    EXPECT_GT(still, 0.8);
    EXPECT_LT(drifting, 0.5);
}

} // namespace

// The application in process on the host's real audio (Qt Multimedia over a private PulseAudio
// server that with_pulse.sh starts, or none), driven with the real clock: what the user sees when
// the sound server is missing or dies under it.
#include "../app/app_fixture.h"

#include <QAudioDevice>
#include <QMediaDevices>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kYellow = 0xFFFF64;
constexpr uint32_t kGray = 0x808080;
constexpr const char* kCaptureWarning = "Error opening waveform audio device!";
constexpr const char* kOutputWarning = "Error opening waveform output audio device!";

class SoundServer : public AppTest {
  public:
    void SetUp() override {
        AppTest::SetUp();
        platform::use_virtual_clock(false);
        platform::wave::set_backend(platform::wave::make_qt_backend());
        // A box closes itself as if OK was pressed; a real user takes longer.
        platform::testing::dismiss_message_boxes_after(200'000);
    }

    // The server's PID, exported by with_pulse.sh; 0 when this process runs without one.
    static pid_t server_pid() {
        const char* pid = std::getenv("TAVRENE_PULSE_PID");
        return pid != nullptr ? static_cast<pid_t>(std::atoi(pid)) : 0;
    }

    // Kills the server the hard way and waits (bounded) until it is gone.
    static bool kill_server() {
        const pid_t pid = server_pid();
        if (pid <= 0 || ::kill(pid, SIGKILL) != 0) {
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            if (::kill(pid, 0) != 0) {
                return true;
            }
            run_for_ms(10);
        }
        return false;
    }

    // Points of the XY figure now on view, and whether the rest of the pane is plain gray.
    struct Figure {
        int points = 0;
        int span = 0; // columns between the leftmost and the rightmost point
        bool rest_gray = true;
    };
    static Figure figure(HWND pane) {
        Figure f;
        const auto* pixels = platform::testing::window_pixels(pane);
        if (pixels == nullptr) {
            return f;
        }
        int left = 89;
        int right = -1;
        for (int y = 0; y < 89; ++y) {
            for (int x = 0; x < 89; ++x) {
                const uint32_t p = pixels->at(x + 1, y + 1); // inside the border
                if (p == kYellow) {
                    ++f.points;
                    left = std::min(left, x);
                    right = std::max(right, x);
                } else if (p != kGray) {
                    f.rest_gray = false;
                }
            }
        }
        f.span = right >= left ? right - left : 0;
        return f;
    }

    static std::vector<std::string> box_texts() {
        std::vector<std::string> texts;
        for (const auto& box : platform::testing::message_boxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    // Presses On/Off. Returns "Off" or "On" when the button changed to it, or the warning that
    // came instead; fails the test when neither happens within a second.
    static std::string toggle(HWND dialog) {
        const std::string before = button(dialog);
        const size_t boxes = platform::testing::message_boxes().size();
        platform::testing::click(dialog, on_off_button_id);
        const bool changed = run_until(
            [&] {
                return button(dialog) != before ||
                       platform::testing::message_boxes().size() > boxes;
            },
            1000);
        EXPECT_TRUE(changed) << "nothing followed a press (button reads \"" << before << "\")";
        if (platform::testing::message_boxes().size() > boxes) {
            EXPECT_EQ(button(dialog), before) << "a refused start changed the button";
            return platform::testing::message_boxes().back().text;
        }
        return button(dialog);
    }

    // Asks the dialog to close and returns how long WinMain took to come back, in microseconds;
    // the caller measures from when `close_at` was set.
    int64_t close_at = 0;
    void ask_to_close(HWND dialog) {
        close_at = platform::now_us();
        platform::testing::close_box(dialog);
    }

    // Runs WinMain and checks that it ended with code 0 within a second of the close request.
    void run_and_check_close(const std::function<void(HWND)>& drive) {
        close_at = 0;
        const int code = run(drive);
        const int64_t ended = platform::now_us();
        EXPECT_EQ(code, 0);
        ASSERT_GT(close_at, 0) << "the test never asked the dialog to close";
        EXPECT_LT(ended - close_at, 1'000'000) << "the close took too long";
    }
};

// No server at all: the capture warning at start, a blank XY pane that keeps repainting, the
// output warning on every press with the button unchanged, and a close that ends the program.
TEST_F(SoundServer, NoServerAtStartWarnsAndStaysUsable) {
    ASSERT_TRUE(QMediaDevices::audioOutputs().isEmpty() && QMediaDevices::audioInputs().isEmpty())
        << "a sound server is reachable; run through with_pulse.sh none";
    run_and_check_close([&](HWND dialog) {
        EXPECT_EQ(box_texts(), std::vector<std::string>{kCaptureWarning});
        EXPECT_EQ(capture_block, nullptr);
        HWND xy = xy_pane_of(dialog);
        const int paints = platform::testing::paint_count(xy);
        run_for_ms(300);
        EXPECT_GT(platform::testing::paint_count(xy), paints + 10) << "the XY pane stopped";
        const Figure blank = figure(xy);
        EXPECT_EQ(blank.points, 0);
        EXPECT_TRUE(blank.rest_gray);

        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(toggle(dialog), kOutputWarning);
            EXPECT_EQ(button(dialog), "On/Off");
            EXPECT_EQ(reference_area(dialog), "Scope1");
        }
        ask_to_close(dialog);
    });
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{kCaptureWarning, kOutputWarning, kOutputWarning}));
    EXPECT_EQ(platform::testing::beep_count(), 3);
    for (const auto& box : platform::testing::message_boxes()) {
        EXPECT_EQ(box.caption, "Tavrene");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
    }
}

// After the server dies the program must still answer every press. Whether a start then finds
// no device (a warning, the button unchanged) or a device that has gone quiet ("Off") is up to
// what the toolkit still lists; either way the button names what the next press does.
void toggle_a_few_times(HWND dialog, std::vector<std::string>& seen) {
    for (int i = 0; i < 4; ++i) {
        const std::string result = SoundServer::toggle(dialog);
        seen.push_back(result);
        const bool on = tone_device != nullptr;
        if (result == kOutputWarning) {
            EXPECT_FALSE(on);
            EXPECT_NE(SoundServer::button(dialog), "Off");
        } else {
            EXPECT_EQ(result, on ? "Off" : "On");
            EXPECT_EQ(SoundServer::reference_area(dialog), on ? "Scope2" : "Scope1");
        }
        SoundServer::run_for_ms(300);
    }
}

TEST_F(SoundServer, ServerKilledWhileTheTonePlays) {
    if (server_pid() == 0) {
        GTEST_SKIP() << "needs the server from with_pulse.sh";
    }
    std::vector<std::string> seen;
    run_and_check_close([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        ASSERT_TRUE(box_texts().empty());
        ASSERT_NE(capture_block, nullptr);
        ASSERT_EQ(toggle(dialog), "Off");
        // The tone goes round the loopback and draws the figure.
        EXPECT_TRUE(run_until([&] { return figure(xy).span > 40; }, 3000));

        ASSERT_TRUE(kill_server());
        const int paints = platform::testing::paint_count(xy);
        run_for_ms(500);
        EXPECT_TRUE(box_texts().empty()) << "a running stream fails quietly";
        EXPECT_EQ(button(dialog), "Off");
        EXPECT_GT(platform::testing::paint_count(xy), paints + 20) << "the loop stalled";
        EXPECT_LE(figure(xy).span, 2) << "nothing comes in any more";

        toggle_a_few_times(dialog, seen);
        // End with the tone on if it can be switched on: a close must stop it first.
        if (tone_device == nullptr) {
            toggle(dialog);
        }
        ask_to_close(dialog);
    });
    EXPECT_EQ(tone_device, nullptr);
    std::printf("after the kill, presses gave:");
    for (const auto& s : seen) {
        std::printf(" \"%s\"", s.c_str());
    }
    std::printf("\n");
}

TEST_F(SoundServer, ServerKilledWhileTheToneIsOff) {
    if (server_pid() == 0) {
        GTEST_SKIP() << "needs the server from with_pulse.sh";
    }
    std::vector<std::string> seen;
    run_and_check_close([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        ASSERT_TRUE(box_texts().empty());
        // The tone once, so that the capture is known to be live, then off.
        ASSERT_EQ(toggle(dialog), "Off");
        EXPECT_TRUE(run_until([&] { return figure(xy).span > 40; }, 3000));
        ASSERT_EQ(toggle(dialog), "On");

        ASSERT_TRUE(kill_server());
        const int paints = platform::testing::paint_count(xy);
        run_for_ms(500);
        EXPECT_TRUE(box_texts().empty());
        EXPECT_EQ(button(dialog), "On");
        EXPECT_GT(platform::testing::paint_count(xy), paints + 20) << "the loop stalled";

        toggle_a_few_times(dialog, seen);
        ask_to_close(dialog);
    });
    EXPECT_EQ(tone_device, nullptr);
    std::printf("after the kill, presses gave:");
    for (const auto& s : seen) {
        std::printf(" \"%s\"", s.c_str());
    }
    std::printf("\n");
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// The application in process on the host's real audio (libpulse, over a private PulseAudio
// server that with_pulse.sh starts, or none), driven with the real clock: what the user sees when
// the sound server is missing, dies under it and comes back, or when the input stops delivering.
#include "../app/app_fixture.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t yellow = 0xFFFF64;
constexpr uint32_t gray = 0x808080;
constexpr const char* capture_warning = "Error opening waveform audio device!";
constexpr const char* output_warning = "Error opening waveform output audio device!";

class SoundServer : public AppTest {
  public:
    void SetUp() override {
        AppTest::SetUp();
        platform::use_virtual_clock(false);
        platform::wave::set_backend(platform::wave::make_pulse_backend());
        // A box closes itself as if OK was pressed; a real user takes longer.
        platform::testing::dismiss_message_boxes_after(200'000);
    }

    // The server's PID, kept by with_pulse.sh; 0 when this process runs without one.
    static pid_t server_pid() {
        const char* file = std::getenv("TAVRENE_PULSE_PIDFILE");
        pid_t pid = 0;
        if (file != nullptr) {
            std::ifstream(file) >> pid;
        }
        return pid;
    }

    static bool have_loopback() {
        const char* kind = std::getenv("TAVRENE_SOUND_SERVER");
        return kind != nullptr && std::string(kind) == "loopback" && server_pid() > 0;
    }

    // Starts the server again (with_pulse.sh does it) and waits, bounded, until it answers.
    static bool restart_server() {
        const pid_t old = server_pid();
        const char* supervisor = std::getenv("TAVRENE_PULSE_SUPERVISOR");
        if (supervisor == nullptr || ::kill(std::atoi(supervisor), SIGUSR2) != 0) {
            return false;
        }
        return run_until([&] { return server_pid() != old && server_pid() > 0; }, 10'000);
    }

    // pactl against the private server, bounded in time.
    static bool pactl(const std::string& args) {
        return std::system(("timeout 5 pactl " + args + " >/dev/null").c_str()) == 0;
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
                if (p == yellow) {
                    ++f.points;
                    left = std::min(left, x);
                    right = std::max(right, x);
                } else if (p != gray) {
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

// Kills the program's record stream on the server (pactl has no command for it), found by the
// names the user sees in the sound settings. True when exactly one was found and killed.
bool kill_record_stream() {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "tavrene-test");
    pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    // Runs the loop until `done` or 2 s have passed.
    auto run = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            pa_mainloop_iterate(loop, 0, nullptr);
            usleep(1000);
        }
        return done();
    };
    std::vector<uint32_t> found;
    bool listed = false;
    bool killed = false;
    if (run([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; })) {
        struct Lookup {
            std::vector<uint32_t>* found;
            bool* listed;
        } lookup{&found, &listed};
        pa_operation_unref(pa_context_get_source_output_info_list(
            context,
            [](pa_context*, const pa_source_output_info* info, int eol, void* me) {
                auto* l = static_cast<Lookup*>(me);
                if (eol) {
                    *l->listed = true;
                    return;
                }
                const char* app = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME);
                if (app && std::string(app) == "Tavrene" &&
                    std::string(info->name) == "Returned signal") {
                    l->found->push_back(info->index);
                }
            },
            &lookup));
        if (run([&] { return listed; }) && found.size() == 1) {
            pa_operation_unref(pa_context_kill_source_output(
                context, found[0],
                [](pa_context*, int success, void* me) { *static_cast<bool*>(me) = success; },
                &killed));
            run([&] { return killed; });
        }
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return killed;
}

// No server at all: the capture warning at start, a blank XY pane that keeps repainting, the
// output warning on every press with the button unchanged, and a close that ends the program.
TEST_F(SoundServer, NoServerAtStartWarnsAndStaysUsable) {
    const char* kind = std::getenv("TAVRENE_SOUND_SERVER");
    ASSERT_TRUE(kind != nullptr && std::string(kind) == "none")
        << "run through with_pulse.sh none, which makes sure no server is reachable";
    run_and_check_close([&](HWND dialog) {
        EXPECT_EQ(box_texts(), std::vector<std::string>{capture_warning});
        EXPECT_EQ(capture_block, nullptr);
        HWND xy = xy_pane_of(dialog);
        const int paints = platform::testing::paint_count(xy);
        run_for_ms(300);
        EXPECT_GT(platform::testing::paint_count(xy), paints + 10) << "the XY pane stopped";
        const Figure blank = figure(xy);
        EXPECT_EQ(blank.points, 0);
        EXPECT_TRUE(blank.rest_gray);

        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(toggle(dialog), output_warning);
            EXPECT_EQ(button(dialog), "On/Off");
            EXPECT_EQ(reference_area(dialog), "Scope1");
        }
        ask_to_close(dialog);
    });
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{capture_warning, output_warning, output_warning}));
    EXPECT_EQ(platform::testing::beep_count(), 3);
    for (const auto& box : platform::testing::message_boxes()) {
        EXPECT_EQ(box.caption, "Tavrene");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
    }
}

// Whether the capture block now holds, byte for byte, a stretch of the tone that started at
// `phase`: what comes back is exactly what was sent.
bool capture_is_the_tone(double phase) {
    static std::vector<unsigned char> tone;
    static double tone_phase = -1.0;
    if (tone_phase != phase) {
        tone = AppTest::tone_from(phase, 8 * 11025);
        tone_phase = phase;
    }
    if (capture_block == nullptr) {
        return false;
    }
    const unsigned char* block = capture_block;
    return std::search(tone.begin(), tone.end(), block, block + 528) != tone.end();
}

// The tone plays, the server is killed: the tone stops as Off would stop it (the button reads
// "On" and nothing claims to be sent), the figure collapses to the centre dot, and presses warn
// that there is no output. The server comes back: capture follows by itself, and the next press
// plays the tone, which comes back byte for byte.
TEST_F(SoundServer, ServerKilledWhileTheTonePlaysThenBack) {
    if (!have_loopback()) {
        GTEST_SKIP() << "needs the server from with_pulse.sh pulse";
    }
    run_and_check_close([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        ASSERT_TRUE(box_texts().empty());
        ASSERT_NE(capture_block, nullptr);
        double phase = dsp::tone_phase();
        ASSERT_EQ(toggle(dialog), "Off");
        EXPECT_TRUE(run_until([&] { return capture_is_the_tone(phase); }, 3000));
        EXPECT_TRUE(run_until([&] { return figure(xy).span > 40; }, 1000));

        ASSERT_TRUE(kill_server());
        const int64_t killed = platform::now_us();
        EXPECT_TRUE(run_until([&] { return figure(xy).points == 1; }, 500))
            << "the figure did not collapse to the centre dot";
        std::printf("[ measured ] centre dot %.0f ms after the kill\n",
                    double(platform::now_us() - killed) / 1000);
        EXPECT_TRUE(run_until([&] { return button(dialog) == "On"; }, 1000));
        EXPECT_EQ(tone_device, nullptr);
        EXPECT_EQ(reference_area(dialog), "Scope1");
        EXPECT_TRUE(box_texts().empty()) << "the lost output is reported at the next press";
        const int paints = platform::testing::paint_count(xy);
        run_for_ms(300);
        EXPECT_GT(platform::testing::paint_count(xy), paints + 10) << "the loop stalled";
        EXPECT_EQ(toggle(dialog), output_warning);
        EXPECT_EQ(figure(xy).points, 1) << "a stopped input must not show a figure";

        ASSERT_TRUE(restart_server());
        const int64_t back = platform::now_us();
        phase = dsp::tone_phase();
        EXPECT_EQ(toggle(dialog), "Off");
        EXPECT_TRUE(run_until([&] { return capture_is_the_tone(phase); }, 3000))
            << "capture did not come back";
        std::printf("[ measured ] exact capture %.0f ms after the server came back\n",
                    double(platform::now_us() - back) / 1000);
        ask_to_close(dialog);
    });
    EXPECT_EQ(tone_device, nullptr);
    EXPECT_EQ(box_texts(), std::vector<std::string>{output_warning});
}

TEST_F(SoundServer, ServerKilledWhileTheToneIsOff) {
    if (!have_loopback()) {
        GTEST_SKIP() << "needs the server from with_pulse.sh pulse";
    }
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
        EXPECT_EQ(figure(xy).points, 1);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(toggle(dialog), output_warning);
            EXPECT_EQ(button(dialog), "On");
        }
        ask_to_close(dialog);
    });
    EXPECT_EQ(tone_device, nullptr);
}

// The input stops delivering while the tone plays, in two ways a desktop produces: the source is
// suspended, and the record stream is killed. Either way the figure collapses to the centre dot
// within half a second and comes back by itself; the tone plays on throughout.
TEST_F(SoundServer, AnInputThatStopsDeliveringNeverLeavesAFigureStanding) {
    if (!have_loopback()) {
        GTEST_SKIP() << "needs the server from with_pulse.sh pulse";
    }
    run_and_check_close([&](HWND dialog) {
        HWND xy = xy_pane_of(dialog);
        ASSERT_EQ(toggle(dialog), "Off");
        ASSERT_TRUE(run_until([&] { return figure(xy).span > 40; }, 3000));

        struct Stop {
            const char* what;
            std::string stop;
            std::string resume; // empty: the program must connect again by itself
        };
        const Stop stops[] = {
            {"suspended source", "suspend-source loopin 1", "suspend-source loopin 0"},
            {"record stream killed", "", ""},
        };
        for (const Stop& s : stops) {
            SCOPED_TRACE(s.what);
            ASSERT_TRUE(s.stop.empty() ? kill_record_stream() : pactl(s.stop));
            const int64_t stopped = platform::now_us();
            EXPECT_TRUE(run_until([&] { return figure(xy).points == 1; }, 500))
                << "the figure did not collapse to the centre dot";
            const int64_t collapsed = platform::now_us();
            EXPECT_EQ(button(dialog), "Off");
            if (!s.resume.empty()) {
                ASSERT_TRUE(pactl(s.resume));
            }
            EXPECT_TRUE(run_until([&] { return figure(xy).span > 40; }, 2000))
                << "the figure did not come back";
            std::printf("[ measured ] %s: centre dot after %.0f ms, figure back %.0f ms later\n",
                        s.what, double(collapsed - stopped) / 1000,
                        double(platform::now_us() - collapsed) / 1000);
        }
        EXPECT_TRUE(box_texts().empty());
        ask_to_close(dialog);
    });
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_fixture.h"

#include <QDir>

#include <cstdlib>

void AppTest::SetUp() {
    platform::use_virtual_clock(true);
    platform::testing::clear_records();
    platform::testing::dismiss_message_boxes_after(50'000);
    path = radio_path::RadioPath::create();
    platform::wave::set_backend(path);
    // The tone's phase runs on for the whole process, as for a program that is never restarted.
    start_phase = dsp::tone_phase();
    tone_exit_pending = false;
}

void AppTest::TearDown() {
    platform::wave::close_all();
    platform::wave::set_backend(nullptr);
    platform::use_virtual_clock(false);
}

int AppTest::run(std::function<void(HWND dialog)> drive) {
    // Each run registers the pane classes again, as a fresh process would.
    platform::testing::unregister_classes();
    platform::TaskId limit = 0;
    platform::testing::on_dialog_ready([&](HWND dialog) {
        drive(dialog);
        // Once the test has done with it, the dialog must end by itself. One that stays open is
        // a fault to report, not a hang until the test runner's timeout.
        limit = platform::schedule_at(platform::now_us() + 5'000'000, [&limit, dialog] {
            limit = 0;
            ADD_FAILURE() << "the dialog was still open 5 s after the test left it";
            EndDialog(dialog, -2);
        });
    });
    const int code =
        WinMain(platform::host_instance(), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    if (limit) {
        platform::cancel_task(limit);
    }
    return code;
}

void AppTest::press_and_wait(HWND dialog, const char* expected) {
    platform::testing::click(dialog, on_off_button_id);
    ASSERT_TRUE(run_until([&] { return button(dialog) == expected; }))
        << "button reads \"" << button(dialog) << "\", expected \"" << expected << "\"";
}

std::string AppTest::reference_area(HWND dialog) {
    std::string found;
    int count = 0;
    for (HWND w : platform::testing::child_windows(dialog)) {
        const std::string name = platform::testing::class_name(w);
        if (name == "Scope1" || name == "Scope2") {
            found = name;
            ++count;
        }
    }
    EXPECT_EQ(count, 1) << "panes in the Reference area";
    return found;
}

HWND AppTest::xy_pane_of(HWND dialog) {
    for (HWND w : platform::testing::child_windows(dialog)) {
        if (platform::testing::class_name(w) == "XYScope") {
            return w;
        }
    }
    return nullptr;
}

std::vector<unsigned char> AppTest::tone_from(double phase, size_t count) {
    std::vector<unsigned char> bytes(count);
    dsp::synthesize(bytes.data(), count, dsp::base_frequency_hz, phase);
    return bytes;
}

std::string artifact_path(const std::string& name) {
    const char* dir = std::getenv("TAVRENE_ARTIFACTS");
    const std::string base = dir != nullptr ? dir : "artifacts";
    QDir().mkpath(QString::fromStdString(base));
    return base + "/" + name;
}

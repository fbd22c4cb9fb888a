// SPDX-License-Identifier: GPL-3.0-or-later
// The whole application in process: WinMain on the simulated radio path, the virtual clock, and
// a hook that drives the dialog the way a user would.
#pragma once

#include "app/tavrene.h"
#include "audio/capture.h"
#include "audio/heap.h"
#include "audio/tone.h"
#include "dsp/synth.h"
#include "platform/host.h"
#include "platform/loop.h"
#include "tests/support/testing.h"
#include "platform/wave_backend.h"
#include "sim/radio_path.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

class AppTest : public ::testing::Test {
  public:
    void SetUp() override;
    void TearDown() override;

    // Runs WinMain; `drive` gets the dialog once it is up. Returns the exit code.
    int run(std::function<void(HWND dialog)> drive);

    static void run_for_ms(int ms) { platform::pump_for(int64_t{ms} * 1000); }
    static bool run_until(const std::function<bool()>& done, int ms = 5000) {
        return platform::pump_until(done, int64_t{ms} * 1000);
    }
    // Presses On/Off and waits for the button to read `expected`.
    static void press_and_wait(HWND dialog, const char* expected);
    static std::string button(HWND dialog) {
        return platform::testing::control_text(dialog, on_off_button_id);
    }
    // The pane on view in the Reference area ("Scope1" or "Scope2"); fails unless exactly one.
    static std::string reference_area(HWND dialog);
    static HWND xy_pane_of(HWND dialog);

    // The synthesizer's bytes from phase `phase`.
    static std::vector<unsigned char> tone_from(double phase, size_t count);

    std::shared_ptr<radio_path::RadioPath> path;
    double start_phase = 0.0; // the synthesizer's phase when the test began
};

// Where tests leave pictures for a person to look at.
std::string artifact_path(const std::string& name);

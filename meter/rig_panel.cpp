// SPDX-License-Identifier: GPL-3.0-or-later
// The rig panel: the rig's state as rigctld reports it, read about once a second, and Correct
// RX. The exchanges run on the rig link's thread; their reports come back as WM_RIG_REPORT.
#include "meter/meter.h"

#include "rig/link.h"

#include <memory>
#include <string>

#if !defined(_WIN32)
std::shared_ptr<radio_path::RadioPath> meter_demo_path;
#endif

namespace {

std::unique_ptr<rig::Link> rig_link;
uint64_t corrections_shown = 0;

std::string address() {
    return meter_options.rig_host + ":" + std::to_string(meter_options.rig_port);
}

#if !defined(_WIN32)
// The simulated receiver follows the rig: tuned relative to where the rig stood when the panel
// first read it on this connection, df moving as a real receiver's would.
bool tuned_from_rig = false;
double first_receive_hz = 0.0;

void tune_demo_link(const rig::Report& r) {
    if (!meter_demo_path) {
        return;
    }
    if (!r.has_state) {
        tuned_from_rig = false;
        return;
    }
    if (!tuned_from_rig) {
        tuned_from_rig = true;
        first_receive_hz = r.state.receive_hz();
    }
    const rig::Sideband sideband = r.state.sideband();
    if (sideband != rig::Sideband::other) {
        meter_demo_path->set_df(rig::df_after_move(
            meter_path_options.link.df_hz, r.state.receive_hz() - first_receive_hz, sideband));
    }
}
#else
void tune_demo_link(const rig::Report&) {}
#endif

} // namespace

void rig_panel_start(HWND dialog) {
    SetDlgItemTextA(dialog, rig_status_text_id, ("Rig " + address() + ": connecting").c_str());
    rig_link = std::make_unique<rig::Link>(meter_options.rig_host, meter_options.rig_port,
                                           [dialog] { PostMessageA(dialog, WM_RIG_REPORT, 0, 0); });
    rig_link->poll();
}

void rig_panel_poll() {
    if (rig_link) {
        rig_link->poll();
    }
}

void rig_panel_correct(HWND dialog) {
    if (!rig_link) {
        return;
    }
    const dsp::DfReading reading = meter_reading();
    const bool reading_ok =
        reading.has_df && reading.verdict == dsp::Verdict::good && reading.span_s >= 1.0 - 1e-9;
    SetDlgItemTextA(dialog, rig_result_text_id, "Correcting...");
    rig_link->correct(reading.df_hz, reading_ok, meter_options.rig_step_hz);
}

void rig_panel_report(HWND dialog) {
    if (!rig_link) {
        return;
    }
    const rig::Report r = rig_link->report();
    const std::string status = r.has_state ? "Rig connected: " + rig::describe(r.state)
                                           : "Rig " + address() + " not connected: " + r.problem;
    SetDlgItemTextA(dialog, rig_status_text_id, status.c_str());
    tune_demo_link(r);
    if (r.correction_serial != corrections_shown) {
        corrections_shown = r.correction_serial;
        SetDlgItemTextA(dialog, rig_result_text_id, r.result.c_str());
        if (r.moved) {
            // No fit across the jump: the reading starts again once the receiver has settled.
            meter_restart_reading(false);
            display_forget(dialog);
        }
    }
}

void rig_panel_stop() {
    rig_link.reset();
    corrections_shown = 0;
#if !defined(_WIN32)
    tuned_from_rig = false;
#endif
}

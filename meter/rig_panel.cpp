// SPDX-License-Identifier: GPL-3.0-or-later
// The rig panel: the rig's state as rigctld reports it, read about once a second, Correct RX,
// and Track, which corrects by itself. The exchanges run on the rig link's thread; their reports
// come back as WM_RIG_REPORT.
#include "meter/meter.h"

#include "rig/link.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

#if !defined(_WIN32)
std::shared_ptr<radio_path::RadioPath> meter_demo_path;
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Track corrects at most this often, and stands back this long after the dial moved by hand:
// a loop that fights the operator's tuning, or hunts near half a step, helps no one.
constexpr auto track_interval = std::chrono::seconds(5);
constexpr auto track_pause = std::chrono::seconds(10);

std::unique_ptr<rig::Link> rig_link;
uint64_t corrections_shown = 0;
bool correcting = false; // a correction asked and not yet reported

struct Track {
    bool on = false;
    bool asked = false; // the correction under way is Track's
    Clock::time_point last{};
    Clock::time_point paused_until{};
    bool pause_shown = false;
    bool seen = false; // the rig as the panel last saw it, or as the meter moved it
    double seen_freq_hz = 0.0;
    double seen_rit_hz = 0.0;
};
Track track;

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

rig::Reading shown_reading() {
    const ShownReading s = meter_shown_reading();
    rig::Reading r;
    r.df_hz = s.df_hz;
    r.good = s.has_df && s.good;
    r.voice = s.source == ReadingSource::voice;
    r.uncertainty_hz = s.uncertainty_hz;
    r.ambiguous = s.ambiguous;
    return r;
}

void correct(HWND dialog, const rig::Reading& reading, bool by_track) {
    correcting = true;
    track.asked = by_track;
    SetDlgItemTextA(dialog, rig_result_text_id,
                    by_track ? "Track: correcting..." : "Correcting...");
    rig_link->correct(reading, meter_options.rig_step_hz, meter_options.rig_vfo);
}

// Track's turn, once a second: a good reading beyond half a step, no correction under way, none
// for track_interval and no pause.
void track_tick(HWND dialog) {
    const Clock::time_point now = Clock::now();
    if (!track.on || now < track.paused_until) {
        return;
    }
    if (track.pause_shown) {
        track.pause_shown = false;
        SetDlgItemTextA(dialog, rig_result_text_id, "Track on");
    }
    const rig::Reading reading = shown_reading();
    if (correcting || !track.seen ||
        (track.last != Clock::time_point{} && now - track.last < track_interval) ||
        !rig::reading_refusal(reading, meter_options.rig_step_hz).empty() ||
        !(std::fabs(reading.df_hz) > meter_options.rig_step_hz / 2)) {
        return;
    }
    track.last = now;
    correct(dialog, reading, true);
}

// A rig whose frequency or RIT changed while the meter moved nothing was tuned by hand.
void watch_dial(HWND dialog, const rig::Report& r, bool moved_by_meter) {
    if (!r.has_state) {
        track.seen = false;
        return;
    }
    const bool dial_moved = track.seen && !moved_by_meter &&
                            (r.state.freq_hz != track.seen_freq_hz ||
                             (r.state.has_rit && r.state.rit_hz != track.seen_rit_hz));
    track.seen = true;
    track.seen_freq_hz = r.state.freq_hz;
    track.seen_rit_hz = r.state.rit_hz;
    if (dial_moved && track.on) {
        track.paused_until = Clock::now() + track_pause;
        track.pause_shown = true;
        SetDlgItemTextA(dialog, rig_result_text_id,
                        "Track paused: the dial moved (10 s from the last turn)");
    }
}

void rig_panel_poll(HWND dialog) {
    if (rig_link) {
        track_tick(dialog);
        rig_link->poll();
    }
}

bool rig_panel_command(HWND dialog, int control) {
    if (!rig_link) {
        return false;
    }
    if (control == correct_button_id) {
        correct(dialog, shown_reading(), false);
        return true;
    }
    if (control == track_check_id) {
        track.on = IsDlgButtonChecked(dialog, track_check_id) == BST_CHECKED;
        track.paused_until = {};
        track.pause_shown = false;
        SetDlgItemTextA(dialog, rig_result_text_id, track.on ? "Track on" : "Track off");
        return true;
    }
    return false;
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
    const bool corrected = r.correction_serial != corrections_shown;
    watch_dial(dialog, r, corrected);
    if (corrected) {
        corrections_shown = r.correction_serial;
        correcting = false;
        const std::string result = (track.asked ? "Track: " : "") + r.result;
        SetDlgItemTextA(dialog, rig_result_text_id, result.c_str());
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
    correcting = false;
    track = Track{};
#if !defined(_WIN32)
    tuned_from_rig = false;
#endif
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Tavrene Meter: the signed df readout. What its dialog, capture, display and log share.
#pragma once

#include "dsp/df_estimator.h"
#include "platform/win32.h"

#include <string>

constexpr const char* meter_caption = "Tavrene Meter";

// Controls of the template (meter/meter.rc). The On/Off button shares Tavrene's id, through which
// the tone stream (audio/tone.cpp) sets its text.
constexpr int verdict_text_id = 1002;
constexpr int level_text_id = 1003;
constexpr int drift_top_text_id = 1004;
constexpr int drift_bottom_text_id = 1006;
constexpr int message_text_id = 1007;

// Options of the run, read once at start.
struct MeterOptions {
    std::string csv_path; // empty: no log
    bool demo = false;    // the simulated radio path instead of the sound devices
};
extern MeterOptions meter_options;

// Returns -1 when the meter should run with `meter_options` set, otherwise the exit code (after
// printing the usage text or what is wrong).
int parse_meter_options(int argc, char** argv);

// Capture (meter/capture.cpp): several blocks queued at all times, each returned block fed to the
// estimator and queued again.
void meter_capture_start(HWND dialog);
void meter_capture_opened();                                // MM_WIM_OPEN
void meter_capture_block_filled(HWND dialog, WAVEHDR* hdr); // MM_WIM_DATA
void meter_capture_reset();     // every queued block comes back; none is re-queued
void meter_capture_shutdown();  // end of the run: close the device, free its memory
void meter_estimator_reset();   // forget every reading (tone off, capture restarted)
dsp::DfReading meter_reading(); // the latest reading, with no offset while the tone is off

// Display (meter/display.cpp).
bool register_meter_classes(HINSTANCE instance);
void display_create(HWND dialog);
void display_reading(HWND dialog, const dsp::DfReading& reading); // each new reading
void display_tick(HWND dialog);                                   // twice a second
void display_forget(HWND dialog);                                 // the readings were reset
void display_message(HWND dialog, const std::string& text);       // stays until replaced

// The per-second log (meter/csv_log.cpp). Each returns false with `error` set when the file
// cannot be opened or written; the log is then closed.
bool csv_open(const std::string& path, std::string& error);
bool csv_append(const dsp::DfReading& reading, std::string& error);
void csv_close();
bool csv_is_open();

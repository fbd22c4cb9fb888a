// SPDX-License-Identifier: GPL-3.0-or-later
// Tavrene Meter: the signed df readout. What its dialog, capture, display and log share.
#pragma once

#include "dsp/df_estimator.h"
#include "dsp/voice_estimator.h"
#include "platform/win32.h"

#include <string>

#if !defined(_WIN32)
#include "sim/path_options.h"

#include <memory>
#endif

constexpr const char* meter_caption = "Tavrene Meter";

// Controls of the template (meter/meter.rc). The On/Off button shares Tavrene's id, through which
// the tone stream (audio/tone.cpp) sets its text.
constexpr int verdict_text_id = 1002;
constexpr int level_text_id = 1003;
constexpr int drift_top_text_id = 1004;
constexpr int drift_bottom_text_id = 1006;
constexpr int message_text_id = 1007;
constexpr int drift_span_text_id = 1008;
constexpr int source_text_id = 1009;
// The rig panel, in the template the meter takes with --rig.
constexpr int rig_status_text_id = 1010;
constexpr int rig_result_text_id = 1011;
constexpr int correct_button_id = 1012;
constexpr int track_check_id = 1013;

// Posted by the rig link's thread when its report changed.
constexpr UINT WM_RIG_REPORT = WM_APP + 1;

// Options of the run, read once at start.
struct MeterOptions {
    std::string csv_path; // empty: no log
    bool demo = false;    // the simulated radio path instead of the sound devices
    bool listen = false;  // --demo: the simulated other station sends its two-tone
    bool rig = false;     // the rig panel, through rigctld at rig_host:rig_port
    std::string rig_host = "127.0.0.1";
    int rig_port = 4532;
    double rig_step_hz = 1.0; // the rig's tuning step: corrections are whole steps
    std::string read_path;    // --read: the recording to read, no window (Linux)
    std::string voice_path;   // --demo: the recording the simulated other station speaks
    bool rig_vfo = false;     // --rig-correct vfo: corrections move the VFO, not RIT
};
extern MeterOptions meter_options;

#if !defined(_WIN32)
extern radio_path::PathOptions meter_path_options;
// The simulated link of --demo (null otherwise): with --rig the rig tunes its receiver.
extern std::shared_ptr<radio_path::RadioPath> meter_demo_path;
#endif

// Returns -1 when the meter should run with `meter_options` set, otherwise the exit code (after
// printing the usage text or what is wrong).
int parse_meter_options(int argc, char** argv);

// Capture (meter/capture.cpp): several blocks queued at all times, each returned block fed to the
// estimator and queued again.
void meter_capture_start(HWND dialog);
void meter_capture_opened();                                // MM_WIM_OPEN
void meter_capture_block_filled(HWND dialog, WAVEHDR* hdr); // MM_WIM_DATA
void meter_capture_reset();    // every queued block comes back; none is re-queued
void meter_capture_shutdown(); // end of the run: close the device, free its memory
// Feeds captured 16-bit little-endian samples (at most a block's, 100 ms) to both estimators
// and shows the newest on the XY pane; returns whether either made a new reading.
bool meter_take_samples(const unsigned char* pcm16, size_t samples);
void meter_estimator_reset(); // forget every reading (tone off, capture restarted)
// Forget every reading and start again once what came before has passed: `until_quiet` waits
// for the input to fall silent (the own tone's tail after Off, at most a few seconds), otherwise
// a fixed half second is left unread (the receiver was retuned).
void meter_restart_reading(bool until_quiet);
dsp::DfReading meter_reading();          // the latest reading; no offset while a restart holds
dsp::VoiceReading meter_voice_reading(); // the latest of the voice

// What the reading is of: the meter's own two-tone, returned; one heard while its own is off; or,
// with no two-tone arriving, the other station's voice.
enum class ReadingSource { own, heard, voice };
ReadingSource reading_source();
const char* reading_source_word(ReadingSource s); // "own", "heard", "voice": the log's last column

// The reading on show, tone or voice: what Correct RX and Track act on.
struct ShownReading {
    ReadingSource source = ReadingSource::own;
    bool has_df = false;
    double df_hz = 0.0;
    bool good = false;           // tone: verdict good over at least 1 s; voice: a reading
    double uncertainty_hz = 0.0; // voice: one standard deviation of df_hz; tone: 0
    bool ambiguous = false;      // voice: two or more candidates open
};
ShownReading meter_shown_reading();

// The rig panel (meter/rig_panel.cpp), with --rig.
void rig_panel_start(HWND dialog);
void rig_panel_poll(HWND dialog);                 // the panel's timer
bool rig_panel_command(HWND dialog, int control); // Correct RX, Track; false for no rig control
void rig_panel_report(HWND dialog);               // WM_RIG_REPORT
void rig_panel_stop();

// Display (meter/display.cpp).
bool register_meter_classes(HINSTANCE instance);
void display_create(HWND dialog);
// Each new reading: the level from the two-tone's, the rest from the one `source` names.
void display_reading(HWND dialog, const dsp::DfReading& reading, const dsp::VoiceReading& voice,
                     ReadingSource source);
void display_tick(HWND dialog);                             // twice a second
void display_forget(HWND dialog);                           // the readings were reset
void display_message(HWND dialog, const std::string& text); // stays until replaced
int dialog_height_units();                                  // of the template in use

// The per-second log (meter/csv_log.cpp). Each returns false with `error` set when the file
// cannot be opened or written; the log is then closed.
bool csv_open(const std::string& path, std::string& error);
bool csv_append(const dsp::DfReading& reading, const dsp::VoiceReading& voice, ReadingSource source,
                std::string& error);
// One line of the log after its time column: df (the voice's to a tenth of a hertz, empty unless
// it reads), rms, SNR, verdict (for the voice its state: no_voice, listening, reading,
// ambiguous) and, `with_source`, the source.
std::string csv_columns(const dsp::DfReading& reading, const dsp::VoiceReading& voice,
                        ReadingSource source, bool with_source);
// The voice reading in words: "+13.7 Hz +- 0.6", "Listening...", "Ambiguous: +12.4 or -107.6
// Hz", "No voice".
std::string voice_reading_text(const dsp::VoiceReading& voice);

// --read (Linux): reads the recording through the estimators and prints the log's lines, with
// seconds into the file for the time, and a summary. 0 with a reading, 1 without, 2 when the
// file cannot be read.
int meter_read_recording(const std::string& path);
void csv_close();
bool csv_is_open();

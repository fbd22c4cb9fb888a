// SPDX-License-Identifier: GPL-3.0-or-later
// rigctld's text protocol, the answers read and checked, and what one correction of the receiver
// asks of the rig. No sockets here: bytes in, values or a reason out.
//
// Every command goes out with a leading '+' (rigctld's extended answers): the daemon echoes the
// command's name, gives "Key: value" lines and ends with "RPRT n", so the end of every answer is
// known, and a failed command says so instead of leaving the reader waiting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rig {

// What rigctld answered to one command.
struct Answer {
    std::string command;            // the name it echoed, as "get_freq"
    std::vector<std::string> lines; // between the echo and the status
    int status = 0;                 // RPRT's code: 0, or a negative Hamlib error
};

// Reads one answer from the bytes as they arrive. It holds at most max_answer_bytes and lines of
// at most max_line_bytes: a daemon that sends more, sends bytes no rigctld sends, or answers
// another command than the one asked is not read any further.
class AnswerReader {
  public:
    static constexpr size_t max_line_bytes = 1024;
    static constexpr size_t max_answer_bytes = 64 * 1024;
    enum class Result { more, done, bad };

    explicit AnswerReader(std::string_view expected_command);
    // Takes the next bytes. Once done or bad, further bytes are ignored.
    Result feed(const char* bytes, size_t count);
    const Answer& answer() const { return answer_; }
    const std::string& error() const { return error_; }

  private:
    Result take_line(std::string_view line);
    Result fail(std::string why);

    std::string expected_;
    std::string line_;
    size_t total_ = 0;
    bool echoed_ = false;
    Result result_ = Result::more;
    Answer answer_;
    std::string error_;
};

enum class Sideband { other, usb, lsb };

// The rig as last read. Frequencies in hertz.
struct RigState {
    double freq_hz = 0.0;
    std::string mode;
    bool has_rit = false;      // the rig can set its RIT (the daemon's capabilities say so)
    double max_rit_hz = 0.0;   // RIT's range, +-
    double rit_hz = 0.0;       // valid when has_rit
    bool transmitting = false; // a rig that cannot tell is taken as receiving
    Sideband sideband() const;
    double receive_hz() const { return freq_hz + (has_rit ? rit_hz : 0.0); }
};

// Each reads one answer into the state; on a failed command or an absurd value it returns why,
// in words for the panel, and leaves the state as it was. Empty means read.
std::string read_frequency(const Answer& a, RigState& s); // get_freq
std::string read_mode(const Answer& a, RigState& s);      // get_mode
std::string read_rit(const Answer& a, RigState& s);       // get_rit
std::string read_ptt(const Answer& a, RigState& s);       // get_ptt
std::string read_caps(const Answer& a, RigState& s);      // dump_caps: RIT and its range

// Plausible values: no rig tunes outside these, so an answer outside them is a fault.
constexpr double max_frequency_hz = 1e11; // 100 GHz; the lowest is 1 Hz
constexpr double max_plausible_rit_hz = 99'999.0;

// The reading a correction acts on, of a two-tone or of a voice.
struct Reading {
    double df_hz = 0.0;
    bool good = false;           // two-tone: verdict good over at least 1 s; voice: a reading
    bool voice = false;          // of the other station's voice
    double uncertainty_hz = 0.0; // voice: one standard deviation of df_hz
    bool ambiguous = false;      // voice: more than one df fits
};

// Why the reading is not one to correct on (in words for the panel), empty when it is.
std::string reading_refusal(const Reading& reading, double step_hz);

// What one press of Correct RX does: the reading's df rounded to the rig's step, the receiver
// moved so that the tones come back where they were sent (USB: a positive df means the receiver
// sits low, so it moves up; LSB the other way), through RIT when the rig has it and `vfo` is
// false, else the VFO itself (the transmitter then follows: the operator sends where the other
// station is).
struct Correction {
    std::string refused;  // why nothing is done; empty when there is something to do
    double move_hz = 0.0; // how far the receiver moves
    bool via_rit = false;
    double target_hz = 0.0; // the new RIT offset, or the new frequency
};
Correction plan_correction(const Reading& reading, double step_hz, const RigState& rig, bool vfo);

// What the reading becomes when the receiver moves by `moved_hz` in `sideband`.
double df_after_move(double df_hz, double moved_hz, Sideband sideband);

// "RX +7 Hz; residual +0.372 Hz (rig step 1 Hz)", "VFO" for `what` when the VFO moved.
std::string correction_report(double moved_hz, double residual_hz, double step_hz,
                              const char* what = "RX");

// "14200000 Hz USB, RIT +7 Hz" and the like.
std::string describe(const RigState& s);

// HOST[:PORT] with 127.0.0.1:4532 standing for what is left out. False when it makes no sense.
bool parse_address(const std::string& text, std::string& host, int& port);

} // namespace rig

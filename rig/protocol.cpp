// SPDX-License-Identifier: GPL-3.0-or-later
#include "rig/protocol.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace rig {

namespace {

bool printable(char c) {
    return c == '\t' || (c >= 0x20 && c < 0x7f);
}

// A whole decimal number with nothing after it (a unit may follow when `unit` is given).
bool number(std::string_view text, double& value) {
    const std::string s(text);
    if (s.empty() || s.size() > 40) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

// The value of "Key: value" among the answer's lines; false when there is none.
bool field(const Answer& a, std::string_view key, std::string_view& value) {
    for (const std::string& line : a.lines) {
        const std::string_view l(line);
        if (l.size() > key.size() && l.substr(0, key.size()) == key && l[key.size()] == ':') {
            value = l.substr(key.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            return true;
        }
    }
    return false;
}

std::string failed(const Answer& a, const char* what) {
    return std::string("the rig could not ") + what + " (Hamlib error " + std::to_string(a.status) +
           ")";
}

std::string hz_text(double hz, const char* format = "%+.0f") {
    char text[48];
    std::snprintf(text, sizeof text, format, hz);
    return text;
}

} // namespace

AnswerReader::AnswerReader(std::string_view expected_command) : expected_(expected_command) {}

AnswerReader::Result AnswerReader::fail(std::string why) {
    error_ = std::move(why);
    result_ = Result::bad;
    return result_;
}

AnswerReader::Result AnswerReader::feed(const char* bytes, size_t count) {
    for (size_t i = 0; i < count && result_ == Result::more; ++i) {
        const char c = bytes[i];
        if (++total_ > max_answer_bytes) {
            return fail("an answer longer than " + std::to_string(max_answer_bytes / 1024) +
                        " KiB: not a rigctld answer");
        }
        if (c == '\n') {
            std::string_view line(line_);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            take_line(line);
            line_.clear();
            continue;
        }
        if (!printable(c) && c != '\r') {
            return fail("bytes no rigctld sends: not a rigctld answer");
        }
        if (line_.size() >= max_line_bytes) {
            return fail("a line longer than " + std::to_string(max_line_bytes) +
                        " bytes: not a rigctld answer");
        }
        line_ += c;
    }
    return result_;
}

AnswerReader::Result AnswerReader::take_line(std::string_view line) {
    if (line.substr(0, 5) == "RPRT ") {
        double code = 0;
        if (!number(line.substr(5), code) || code != std::floor(code) || code > 0 || code < -99) {
            return fail("a malformed status line '" + std::string(line) + "'");
        }
        answer_.status = static_cast<int>(code);
        // A command that failed at once may answer with no echo before its status.
        result_ = Result::done;
        return result_;
    }
    if (!echoed_) {
        // The echo: the command's name and a colon, then what it was given.
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.substr(0, colon) != expected_) {
            // Built in place: GCC 12 takes the operator+ form for an overlapping copy (-Wrestrict).
            std::string why(line.substr(0, 60));
            why.insert(0, 1, '\'');
            why.append("' where rigctld echoes the command: not a rigctld answer");
            return fail(why);
        }
        answer_.command = expected_;
        echoed_ = true;
        return result_;
    }
    if (answer_.lines.size() >= 2000) {
        return fail("an answer of too many lines: not a rigctld answer");
    }
    answer_.lines.emplace_back(line);
    return result_;
}

Sideband RigState::sideband() const {
    if (mode == "USB" || mode == "PKTUSB") {
        return Sideband::usb;
    }
    if (mode == "LSB" || mode == "PKTLSB") {
        return Sideband::lsb;
    }
    return Sideband::other;
}

namespace {

// The number under `key` ("Frequency", "RIT") into `value` when it lies in [low, high].
std::string read_hz(const Answer& a, const char* key, const char* what, double low, double high,
                    double& value) {
    if (a.status != 0) {
        return failed(a, (std::string("report its ") + what).c_str());
    }
    std::string_view text;
    double hz = 0;
    if (!field(a, key, text) || !number(text, hz)) {
        return std::string("no ") + what + " in the rig's answer";
    }
    if (!(hz >= low && hz <= high)) {
        return std::string("the rig reports an impossible ") + what + " (" +
               std::string(text.substr(0, 40)) + ")";
    }
    value = hz;
    return {};
}

} // namespace

std::string read_frequency(const Answer& a, RigState& s) {
    return read_hz(a, "Frequency", "frequency", 1.0, max_frequency_hz, s.freq_hz);
}

std::string read_mode(const Answer& a, RigState& s) {
    if (a.status != 0) {
        return failed(a, "report its mode");
    }
    std::string_view text;
    if (!field(a, "Mode", text) || text.empty() || text.size() > 16) {
        return "no mode in the rig's answer";
    }
    for (const char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) {
            return "the rig reports a mode no rig has";
        }
    }
    s.mode = text;
    return {};
}

std::string read_rit(const Answer& a, RigState& s) {
    return read_hz(a, "RIT", "RIT", -max_plausible_rit_hz, max_plausible_rit_hz, s.rit_hz);
}

std::string read_ptt(const Answer& a, RigState& s) {
    // A rig that cannot tell whether it transmits answers with an error: taken as receiving.
    if (a.status != 0) {
        s.transmitting = false;
        return {};
    }
    std::string_view text;
    double ptt = 0;
    if (!field(a, "PTT", text) || !number(text, ptt) || ptt < 0 || ptt > 3) {
        return "no transmit state in the rig's answer";
    }
    s.transmitting = ptt != 0;
    return {};
}

std::string read_caps(const Answer& a, RigState& s) {
    if (a.status != 0) {
        return failed(a, "report what it can do");
    }
    // "Can set RIT:\tY" and "Max RIT: -9.990kHz/+9.990kHz".
    std::string_view can, range;
    bool has = field(a, "Can set RIT", can) && can == "Y";
    double max_hz = 0;
    if (has && field(a, "Max RIT", range)) {
        const size_t plus = range.find('+');
        std::string_view value = plus == std::string_view::npos ? "" : range.substr(plus + 1);
        double scale = 1;
        if (value.ends_with("kHz")) {
            scale = 1e3;
            value.remove_suffix(3);
        } else if (value.ends_with("MHz")) {
            scale = 1e6;
            value.remove_suffix(3);
        } else if (value.ends_with("Hz")) {
            value.remove_suffix(2);
        }
        if (!number(value, max_hz) || max_hz < 0 || max_hz * scale > max_plausible_rit_hz) {
            return "the rig reports an impossible RIT range";
        }
        max_hz *= scale;
    }
    s.has_rit = has && max_hz > 0;
    s.max_rit_hz = s.has_rit ? max_hz : 0.0;
    return {};
}

std::string reading_refusal(const Reading& reading, double step_hz) {
    if (!reading.good) {
        return reading.voice ? "No voice reading yet: nothing to correct"
                             : "No good reading of at least 1 s: nothing to correct yet";
    }
    if (reading.ambiguous) {
        return "The voice reading is ambiguous (more than one df fits): not corrected";
    }
    if (reading.uncertainty_hz > step_hz / 2) {
        return "The voice reading is uncertain (+-" + hz_text(reading.uncertainty_hz, "%.2f") +
               " Hz, over half the rig's step of " + hz_text(step_hz, "%g") + " Hz): not corrected";
    }
    return {};
}

Correction plan_correction(const Reading& reading, double step_hz, const RigState& rig, bool vfo) {
    Correction c;
    c.refused = reading_refusal(reading, step_hz);
    if (!c.refused.empty()) {
        return c;
    }
    const double df_hz = reading.df_hz;
    const double steps = std::round(df_hz / step_hz);
    if (steps == 0) {
        c.refused = "df " + hz_text(df_hz, "%+.3f") + " Hz is within the rig's step (" +
                    hz_text(step_hz, "%g") + " Hz)";
        return c;
    }
    const Sideband sb = rig.sideband();
    if (sb == Sideband::other) {
        c.refused = "The rig is in " + rig.mode + ": Correct RX works in USB or LSB";
        return c;
    }
    if (rig.transmitting) {
        c.refused = "The rig is transmitting: no correction while it sends";
        return c;
    }
    c.move_hz = steps * step_hz * (sb == Sideband::usb ? 1.0 : -1.0);
    c.via_rit = rig.has_rit && !vfo;
    if (c.via_rit) {
        c.target_hz = rig.rit_hz + c.move_hz;
        if (std::fabs(c.target_hz) > rig.max_rit_hz) {
            c.refused = "RIT " + hz_text(c.target_hz) + " Hz would leave the rig's range (+-" +
                        hz_text(rig.max_rit_hz, "%.0f") + " Hz)";
        }
    } else {
        c.target_hz = rig.freq_hz + c.move_hz;
    }
    return c;
}

double df_after_move(double df_hz, double moved_hz, Sideband sideband) {
    return sideband == Sideband::lsb ? df_hz + moved_hz : df_hz - moved_hz;
}

std::string correction_report(double moved_hz, double residual_hz, double step_hz,
                              const char* what) {
    return std::string(what) + " " + hz_text(moved_hz) + " Hz; residual " +
           hz_text(residual_hz, "%+.3f") + " Hz (rig step " + hz_text(step_hz, "%g") + " Hz)";
}

std::string describe(const RigState& s) {
    std::string text = hz_text(s.freq_hz, "%.0f") + " Hz " + s.mode;
    if (s.has_rit) {
        text += ", RIT " + hz_text(s.rit_hz) + " Hz";
    }
    if (s.transmitting) {
        text += ", transmitting";
    }
    return text;
}

bool parse_address(const std::string& text, std::string& host, int& port) {
    host = "127.0.0.1";
    port = 4532;
    if (text.empty()) {
        return true;
    }
    const size_t colon = text.rfind(':');
    std::string name = text.substr(0, colon);
    if (colon != std::string::npos) {
        double p = 0;
        if (!number(std::string_view(text).substr(colon + 1), p) || p != std::floor(p) || p < 1 ||
            p > 65535) {
            return false;
        }
        port = static_cast<int>(p);
    }
    if (!name.empty()) {
        for (const char c : name) {
            if (!printable(c) || c == ' ' || c == '\t') {
                return false;
            }
        }
        host = name;
    }
    return true;
}

} // namespace rig

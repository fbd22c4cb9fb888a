// SPDX-License-Identifier: GPL-3.0-or-later
// The per-second log: one line a second of the latest reading, appended to a CSV file that a
// spreadsheet or a plotting script reads while the meter runs.
#include "meter/meter.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

std::FILE* log_file = nullptr;
std::string log_path;
// The last column says what the reading is of (own, heard, voice); the columns before it are as
// they were, so what reads the older log reads this one. A log begun by an earlier version,
// without it, is carried on in its own columns.
constexpr const char header[] = "time_utc,df_hz,rms,snr_db,verdict,source\n";
constexpr const char header_without_source[] = "time_utc,df_hz,rms,snr_db,verdict\n";
bool with_source = true;

const char* verdict_word(dsp::Verdict v) {
    switch (v) {
    case dsp::Verdict::no_signal:
        return "no_signal";
    case dsp::Verdict::level_too_low:
        return "level_too_low";
    case dsp::Verdict::clipping:
        return "clipping";
    case dsp::Verdict::good:
        return "good";
    }
    return "no_signal";
}

const char* voice_word(dsp::VoiceState s) {
    switch (s) {
    case dsp::VoiceState::listening:
        return "listening";
    case dsp::VoiceState::reading:
        return "reading";
    case dsp::VoiceState::ambiguous:
        return "ambiguous";
    case dsp::VoiceState::no_voice:
        break;
    }
    return "no_voice";
}

std::string failure(const char* what, int error_number) {
    return std::string("Cannot ") + what + " the log file " + log_path + ": " +
           std::strerror(error_number);
}

} // namespace

bool csv_open(const std::string& path, std::string& error) {
    log_path = path;
    errno = 0;
    log_file = std::fopen(path.c_str(), "a+");
    if (log_file == nullptr) {
        error = failure("open", errno);
        return false;
    }
    // A new (or empty) file starts with the names of the columns. The Windows C library leaves an
    // appending stream at 0 until its first write: ask for the end explicitly.
    if (std::fseek(log_file, 0, SEEK_END) == 0 && std::ftell(log_file) == 0) {
        with_source = true;
        if (std::fputs(header, log_file) < 0 || std::fflush(log_file) != 0) {
            error = failure("write to", errno);
            csv_close();
            return false;
        }
        return true;
    }
    // Lines of other columns would make the file unreadable as a table: a file that is not a
    // meter's log is left alone.
    char first[sizeof header + 2] = "";
    std::rewind(log_file);
    const bool read = std::fgets(first, sizeof first, log_file) != nullptr;
    first[std::strcspn(first, "\r\n")] = '\0'; // a file written on Windows ends lines in CR LF
    const std::string columns = std::string(first) + "\n";
    with_source = columns == header;
    if (!read || (!with_source && columns != header_without_source)) {
        error = "Cannot append to the log file " + log_path +
                ": its first line is not the meter's columns; name a new file";
        csv_close();
        return false;
    }
    std::fseek(log_file, 0, SEEK_END); // "a+": writes go to the end whatever was read
    return true;
}

std::string csv_columns(const dsp::DfReading& reading, const dsp::VoiceReading& voice,
                        ReadingSource source, bool with_source) {
    // A log without the source column cannot say a line is of a voice: it goes on as the version
    // that began it wrote it, with the two-tone's columns.
    if (!with_source && source == ReadingSource::voice) {
        source = ReadingSource::heard;
    }
    char df_text[32] = "";
    if (source == ReadingSource::voice && voice.state == dsp::VoiceState::reading) {
        // A tenth of a hertz: the voice's own uncertainty is far above the two-tone's.
        std::snprintf(df_text, sizeof df_text, "%.1f",
                      std::fabs(voice.df_hz) < 0.05 ? 0.0 : voice.df_hz);
    } else if (source != ReadingSource::voice && reading.has_df) {
        std::snprintf(df_text, sizeof df_text, "%.4f",
                      std::fabs(reading.df_hz) < 0.00005 ? 0.0 : reading.df_hz);
    }
    // Silence has no signal-to-noise ratio worth a number, and a voice none of the two-tone's.
    char snr_text[32] = "";
    if (source != ReadingSource::voice && std::isfinite(reading.snr_db)) {
        std::snprintf(snr_text, sizeof snr_text, "%.1f", reading.snr_db);
    }
    char line[160];
    std::snprintf(line, sizeof line, "%s,%.1f,%s,%s%s%s", df_text, reading.rms, snr_text,
                  source == ReadingSource::voice ? voice_word(voice.state)
                                                 : verdict_word(reading.verdict),
                  with_source ? "," : "", with_source ? reading_source_word(source) : "");
    return line;
}

bool csv_append(const dsp::DfReading& reading, const dsp::VoiceReading& voice, ReadingSource source,
                std::string& error) {
    if (log_file == nullptr) {
        return true;
    }
    char time_text[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    std::strftime(time_text, sizeof time_text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    errno = 0;
    // Flushed line by line: whoever reads the file while the meter runs sees every second.
    if (std::fprintf(log_file, "%s,%s\n", time_text,
                     csv_columns(reading, voice, source, with_source).c_str()) < 0 ||
        std::fflush(log_file) != 0) {
        error = failure("write to", errno);
        csv_close();
        return false;
    }
    return true;
}

void csv_close() {
    if (log_file != nullptr) {
        std::fclose(log_file);
        log_file = nullptr;
    }
}

bool csv_is_open() {
    return log_file != nullptr;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/recording.h"

#include <samplerate.h>
#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace recording {

namespace {

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// libsndfile opens a WAV whose data stops short of what its header announces and reads what is
// there; its log says so, and a recording cut off in the middle is not one to trust silently.
bool header_promises_more(SNDFILE* file) {
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    return std::strstr(log, "should be") != nullptr || std::strstr(log, "truncated") != nullptr ||
           std::strstr(log, "> file length") != nullptr;
}

} // namespace

std::string read(const std::string& path, int rate_hz, Audio& out, int raw_rate_hz) {
    const std::string name = base_name(path);
    out = Audio{};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return name + ": " + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return name + ": is a folder, not a recording";
    }
    if (st.st_size == 0) {
        return name + ": is empty";
    }
    SF_INFO info{};
    if (raw_rate_hz > 0) {
        info.samplerate = raw_rate_hz;
        info.channels = 1;
        info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        const int code = sf_error(nullptr);
        if (code == SF_ERR_UNRECOGNISED_FORMAT) {
            return name + ": not an audio file that can be read";
        }
        if (code == SF_ERR_MALFORMED_FILE) {
            return name + ": damaged or truncated (" + sf_strerror(nullptr) + ")";
        }
        return name + ": " + sf_strerror(nullptr);
    }
    const bool cut_short = header_promises_more(file);
    std::vector<float> interleaved;
    const int channels = info.channels;
    if (channels > 0 && info.frames > 0) {
        interleaved.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(channels));
    }
    const sf_count_t got =
        interleaved.empty() ? 0 : sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (channels <= 0 || info.samplerate <= 0) {
        return name + ": not an audio file that can be read";
    }
    if (got <= 0) {
        return name + (cut_short ? ": truncated: no audio in it" : ": is empty: no audio in it");
    }
    if (cut_short || got < info.frames) {
        return name + ": truncated (its header announces more audio than it holds)";
    }

    std::vector<float> mono(static_cast<size_t>(got));
    for (size_t i = 0; i < mono.size(); ++i) {
        float sum = 0.0F;
        for (int c = 0; c < channels; ++c) {
            sum += interleaved[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
        }
        mono[i] = sum / static_cast<float>(channels);
    }
    out.rate_hz = rate_hz;
    if (info.samplerate == rate_hz) {
        out.samples = std::move(mono);
        return {};
    }
    const double ratio = static_cast<double>(rate_hz) / info.samplerate;
    out.samples.resize(static_cast<size_t>(static_cast<double>(mono.size()) * ratio) + 16);
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(mono.size());
    data.data_out = out.samples.data();
    data.output_frames = static_cast<long>(out.samples.size());
    data.src_ratio = ratio;
    if (const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, 1); error != 0) {
        out = Audio{};
        return name + ": resampling failed: " + src_strerror(error);
    }
    out.samples.resize(static_cast<size_t>(data.output_frames_gen));
    return {};
}

} // namespace recording

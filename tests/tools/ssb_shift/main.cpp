// SPDX-License-Identifier: GPL-3.0-or-later
// ssb_shift IN OUT DF: IN at 11025 Hz, mono, every component moved by DF hertz, into OUT
// (16-bit WAV).
#include "dsp/stream_format.h"
#include "recording/recording.h"
#include "sim/link.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: ssb_shift IN OUT DF\n", stderr);
        return 2;
    }
    recording::Audio audio;
    if (const std::string error = recording::read(argv[1], dsp::sample_rate_hz, audio);
        !error.empty()) {
        std::fprintf(stderr, "ssb_shift: %s\n", error.c_str());
        return 2;
    }
    radio_path::Link link({.df_hz = std::atof(argv[3])});
    // The link counts in 8-bit steps, 128 to full scale.
    std::vector<double> out;
    for (float x : audio.samples) {
        const double step = 128.0 * x;
        link.process(&step, 1, out);
    }
    std::vector<float> samples;
    for (double y : out) {
        samples.push_back(static_cast<float>(y / 128.0));
    }
    SF_INFO info{};
    info.samplerate = dsp::sample_rate_hz;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[2], SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "ssb_shift: %s: %s\n", argv[2], sf_strerror(nullptr));
        return 2;
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const bool written = sf_writef_float(file, samples.data(), sf_count_t(samples.size())) ==
                         sf_count_t(samples.size());
    sf_close(file);
    return written ? 0 : 2;
}

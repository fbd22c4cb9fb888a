// SPDX-License-Identifier: GPL-3.0-or-later
// main() of the Linux meter: its options, a recording read without a window (--read), the
// simulated link for --demo, then the host.
#include "meter/meter.h"

#include "dsp/stream_format.h"
#include "platform/host.h"
#include "platform/wave_backend.h"
#include "recording/recording.h"
#include "sim/path_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The voice the simulated station speaks, in the link's 8-bit steps: its peaks at the level a
// receiver's AGC holds, whatever the level it was recorded at.
bool load_station_voice(std::vector<double>& voice) {
    recording::Audio audio;
    if (const std::string error =
            recording::read(meter_options.voice_path, dsp::sample_rate_hz, audio);
        !error.empty()) {
        std::fprintf(stderr, "tavrene-meter: %s\n", error.c_str());
        return false;
    }
    float peak = 0.0f;
    for (float x : audio.samples) {
        peak = std::max(peak, std::fabs(x));
    }
    const double scale = peak > 0.0f ? radio_path::Link::agc_target / peak : 0.0;
    voice.assign(audio.samples.begin(), audio.samples.end());
    for (double& x : voice) {
        x *= scale;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (const int code = parse_meter_options(argc, argv); code >= 0) {
        return code;
    }
    if (!meter_options.read_path.empty()) {
        return meter_read_recording(meter_options.read_path);
    }
    if (meter_options.demo) {
        std::vector<double> voice;
        if (!meter_options.voice_path.empty() && !load_station_voice(voice)) {
            return 2;
        }
        auto path = radio_path::RadioPath::create();
        radio_path::apply(*path, meter_path_options);
        path->set_recording(false); // it may run for hours
        path->set_station_voice(std::move(voice));
        path->set_station(meter_options.listen || !meter_options.voice_path.empty());
        platform::wave::set_backend(path);
        meter_demo_path = path;
    }
    // The toolkit sees only the program name: the options were ours.
    static int host_argc = 1;
    static char* host_argv[] = {argv[0], nullptr};
    return platform::host_main(host_argc, host_argv, &WinMain);
}

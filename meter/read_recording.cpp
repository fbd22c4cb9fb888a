// SPDX-License-Identifier: GPL-3.0-or-later
// --read: a recording through the estimators of the live meter, as with its own tone off, and
// the log's line for every second of it. No window and no sound server: the samples go straight
// to the capture's own entry, as 16-bit samples, the way the capture would have taken them.
#include "meter/meter.h"

#include "dsp/stream_format.h"
#include "recording/recording.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t block_samples = dsp::sample_rate_hz / 10; // as the capture's blocks
constexpr size_t second_samples = dsp::sample_rate_hz;

// A stretch of readings of one signal: a two-tone, or one voice (its serial), and the last
// reading of it.
struct Stretch {
    ReadingSource source = ReadingSource::voice;
    unsigned serial = 0;
    size_t first_s = 0, last_s = 0;
    double df_hz = 0.0;
    double uncertainty_hz = 0.0;
};

std::string describe(const Stretch& s) {
    char text[96];
    if (s.source == ReadingSource::voice) {
        std::snprintf(text, sizeof text, "voice %+.1f Hz +- %.1f (%zu-%zu s)", s.df_hz,
                      s.uncertainty_hz, s.first_s, s.last_s);
    } else {
        std::snprintf(text, sizeof text, "two-tone %+.3f Hz (%zu-%zu s)", s.df_hz, s.first_s,
                      s.last_s);
    }
    return text;
}

// The second's reading, into the stretches when it has a df.
void note(std::vector<Stretch>& stretches, size_t second) {
    const ShownReading shown = meter_shown_reading();
    if (!shown.has_df) {
        return;
    }
    const unsigned serial = shown.source == ReadingSource::voice ? meter_voice_reading().serial : 0;
    if (stretches.empty() || stretches.back().source != shown.source ||
        stretches.back().serial != serial) {
        stretches.push_back({shown.source, serial, second, second, 0.0, 0.0});
    }
    Stretch& s = stretches.back();
    s.last_s = second;
    s.df_hz = std::fabs(shown.df_hz) < 0.05 ? 0.0 : shown.df_hz; // no "-0.0"
    s.uncertainty_hz = shown.uncertainty_hz;
}

} // namespace

int meter_read_recording(const std::string& path) {
    recording::Audio audio;
    if (const std::string error = recording::read(path, dsp::sample_rate_hz, audio);
        !error.empty()) {
        std::fprintf(stderr, "tavrene-meter: %s\n", error.c_str());
        return 2;
    }
    meter_estimator_reset();
    std::printf("seconds,df_hz,rms,snr_db,verdict,source\n");
    std::vector<Stretch> stretches;
    unsigned char pcm[2 * block_samples];
    // Resampling leaves out a few samples at the end: a last second short by less than a block
    // is read to its end as a whole one.
    size_t total = audio.samples.size();
    if (total % second_samples >= second_samples - block_samples) {
        audio.samples.resize(total + second_samples - total % second_samples, 0.0f);
        total = audio.samples.size();
    }
    for (size_t at = 0; at < total;) {
        // Blocks end on each whole second, where the log's line is due.
        const size_t n =
            std::min({block_samples, total - at, second_samples - at % second_samples});
        for (size_t i = 0; i < n; ++i) {
            // As a 16-bit card records it: rounded, clipped at full scale.
            const long v =
                std::clamp(std::lround(audio.samples[at + i] * 32768.0), -32768L, 32767L);
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
            pcm[2 * i] = static_cast<unsigned char>(s & 0xFF);
            pcm[2 * i + 1] = static_cast<unsigned char>(s >> 8);
        }
        meter_take_samples(pcm, n);
        at += n;
        if (at % second_samples == 0) {
            const size_t second = at / second_samples;
            std::printf("%zu,%s\n", second,
                        csv_columns(meter_reading(), meter_voice_reading(), reading_source(), true)
                            .c_str());
            note(stretches, second);
        }
    }
    std::string summary;
    for (const Stretch& s : stretches) {
        summary += (summary.empty() ? "" : "; ") + describe(s);
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (summary.empty()) {
        std::printf("# %s: no reading in %zu s (%s)\n", name.c_str(), total / second_samples,
                    voice_reading_text(meter_voice_reading()).c_str());
        return 1;
    }
    std::printf("# %s: %s\n", name.c_str(), summary.c_str());
    return 0;
}

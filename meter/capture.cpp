// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's capture: four blocks of 100 ms in the input queue, so the device always has one to
// fill while the others wait to be read; every block that comes back goes to the estimators and
// straight back into the queue, so no sample is lost between blocks. It captures 16 bits: speech
// arrives at whatever level the receiver's AGC leaves, and the voice estimator takes every bit of
// it; the two-tone estimator and the XY pane take the 8 bits an 8-bit card would have given.
#include "meter/meter.h"

#include "app/tavrene.h"
#include "audio/capture.h"
#include "audio/heap.h"
#include "audio/tone.h"
#include "dsp/bandpass.h"
#include "dsp/stream_format.h"
#include "dsp/voice_estimator.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr int queued_blocks = 4;
constexpr size_t block_samples = dsp::sample_rate_hz / 10; // 100 ms
constexpr DWORD block_bytes = 2 * block_samples;

constexpr WAVEFORMATEX capture_format = {
    WAVE_FORMAT_PCM, 1, dsp::sample_rate_hz, 2 * dsp::sample_rate_hz, 2, 16, 0};

HWAVEIN device = nullptr;
WAVEHDR* headers[queued_blocks] = {};
bool stopping = false;
// What the XY pane shows: the newest capture's last bytes, copied so that it never reads a block
// the device is filling.
unsigned char* xy_window = nullptr;
dsp::DfEstimator estimator;
dsp::VoiceEstimator voice;
// A block in both forms the estimators take.
unsigned char block_u8[block_samples];
float block_float[block_samples];

// A restart's hold: blocks read by nobody, so that what came before it never enters a reading.
// Half a second after a retune: the receiver settles. At most three seconds after Off: a two-tone
// still there then is not the tail of the own.
constexpr size_t retune_hold_samples = dsp::sample_rate_hz / 2;
constexpr size_t quiet_hold_max_samples = 3 * dsp::sample_rate_hz;
size_t hold_left = 0;
bool hold_until_quiet = false;

// True while a restart holds, for a block just come. Until quiet, the block goes through the
// two-tone estimator only to see whether a two-tone is still there; the hold ends on the first
// block without one, and both estimators start afresh from the next.
bool holding(const unsigned char* data, size_t samples) {
    if (hold_left == 0) {
        return false;
    }
    hold_left -= std::min(hold_left, samples);
    if (hold_until_quiet) {
        estimator.push(data, samples);
        if (!estimator.tones_found()) {
            hold_left = 0;
        }
    }
    if (hold_left == 0) {
        estimator.reset();
        voice.reset();
    }
    return true;
}

// A 16-bit sample as an 8-bit card rounds it: to the nearest of 256 steps, clipped at the top.
unsigned char to_8_bits(int16_t s) {
    return static_cast<unsigned char>(std::min((s + 128) >> 8, 127) + dsp::silence_byte);
}

void free_capture_memory() {
    for (WAVEHDR*& hdr : headers) {
        if (hdr != nullptr) {
            stream_free(hdr->lpData);
            stream_free(hdr);
            hdr = nullptr;
        }
    }
    stream_free(xy_window);
    xy_window = nullptr;
}

bool allocate_capture_memory() {
    xy_window = static_cast<unsigned char*>(stream_alloc(dsp::capture_block_bytes));
    bool ok = xy_window != nullptr;
    for (WAVEHDR*& hdr : headers) {
        hdr = ok ? static_cast<WAVEHDR*>(stream_alloc(sizeof(WAVEHDR))) : nullptr;
        void* data = hdr != nullptr ? stream_alloc(block_bytes) : nullptr;
        if (hdr != nullptr) {
            *hdr = WAVEHDR{};
            hdr->lpData = static_cast<LPSTR>(data);
            hdr->dwBufferLength = block_bytes;
            hdr->dwLoops = 1;
        }
        ok = data != nullptr;
    }
    if (!ok) {
        free_capture_memory();
    }
    return ok;
}

void show_newest(const unsigned char* data, size_t bytes) {
    if (xy_window == nullptr) {
        return; // a recording read, with no window
    }
    if (bytes >= dsp::capture_block_bytes) {
        std::memcpy(xy_window, data + bytes - dsp::capture_block_bytes, dsp::capture_block_bytes);
        return;
    }
    // A short block (the device was reset): slide the window along by what came.
    std::memmove(xy_window, xy_window + bytes, dsp::capture_block_bytes - bytes);
    std::memcpy(xy_window + dsp::capture_block_bytes - bytes, data, bytes);
}

} // namespace

void meter_capture_start(HWND dialog) {
    if (!allocate_capture_memory()) {
        show_warning(dialog, "Error allocating memory!");
        return;
    }
    if (waveInOpen(&device, WAVE_MAPPER, &capture_format, reinterpret_cast<DWORD_PTR>(dialog), 0,
                   CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        device = nullptr;
        free_capture_memory();
        show_warning(dialog, "Error opening waveform audio device!");
        return;
    }
    stopping = false;
    // Silence until the first capture arrives: the figure starts as one dot in the centre.
    std::memset(xy_window, dsp::tone_centre_byte, dsp::capture_block_bytes);
    capture_block = xy_window;
    for (WAVEHDR* hdr : headers) {
        waveInPrepareHeader(device, hdr, sizeof(WAVEHDR));
    }
}

void meter_capture_opened() {
    meter_estimator_reset();
    for (WAVEHDR* hdr : headers) {
        waveInAddBuffer(device, hdr, sizeof(WAVEHDR));
    }
    waveInStart(device);
}

void meter_capture_block_filled(HWND dialog, WAVEHDR* hdr) {
    const size_t bytes = hdr->dwBytesRecorded;
    if (device == nullptr || bytes > block_bytes) {
        return;
    }
    if (meter_take_samples(reinterpret_cast<const unsigned char*>(hdr->lpData), bytes / 2)) {
        display_reading(dialog, meter_reading(), meter_voice_reading(), reading_source());
    }
    if (!stopping) {
        waveInAddBuffer(device, hdr, sizeof(WAVEHDR));
    }
}

void meter_capture_reset() {
    if (device != nullptr) {
        stopping = true;
        waveInReset(device);
    }
}

void meter_capture_shutdown() {
    if (device != nullptr) {
        stopping = true;
        waveInReset(device);
        for (WAVEHDR* hdr : headers) {
            waveInUnprepareHeader(device, hdr, sizeof(WAVEHDR));
        }
        waveInClose(device);
        device = nullptr;
    }
    capture_block = nullptr;
    free_capture_memory();
}

bool meter_take_samples(const unsigned char* pcm16, size_t samples) {
    samples = std::min(samples, block_samples);
    for (size_t i = 0; i < samples; ++i) {
        // Little-endian, as WAVE_FORMAT_PCM has it on every host.
        const auto s = static_cast<int16_t>(pcm16[2 * i] | (pcm16[2 * i + 1] << 8));
        block_u8[i] = to_8_bits(s);
        block_float[i] = static_cast<float>(s) / 32768.0f;
    }
    if (samples == 0) {
        return false;
    }
    show_newest(block_u8, samples);
    if (holding(block_u8, samples)) {
        return false;
    }
    const int tone_readings = estimator.push(block_u8, samples);
    // While the own tone plays it is what is read: the voice estimator is spared the work.
    const int voice_readings =
        reading_source() == ReadingSource::own ? 0 : voice.push(block_float, samples);
    return tone_readings + voice_readings > 0;
}

void meter_estimator_reset() {
    estimator.reset();
    voice.reset();
    hold_left = 0;
}

void meter_restart_reading(bool until_quiet) {
    estimator.reset();
    voice.reset();
    hold_until_quiet = until_quiet;
    hold_left = until_quiet ? quiet_hold_max_samples : retune_hold_samples;
}

dsp::DfReading meter_reading() {
    dsp::DfReading reading = estimator.reading();
    // The level and the verdict stand while a restart holds; an offset would be of what came
    // before it.
    if (hold_left > 0) {
        reading.has_df = false;
    }
    return reading;
}

dsp::VoiceReading meter_voice_reading() {
    return voice.reading();
}

// A two-tone is read while it gives a reading, the voice otherwise. Whether the spectrum finds
// the tones would not do: voiced speech has a harmonic near 1000 and 2000 Hz in most frames.
ReadingSource reading_source() {
    if (tone_device != nullptr && !tone_stopping) {
        return ReadingSource::own;
    }
    return estimator.reading().has_df ? ReadingSource::heard : ReadingSource::voice;
}

const char* reading_source_word(ReadingSource s) {
    switch (s) {
    case ReadingSource::own:
        return "own";
    case ReadingSource::heard:
        return "heard";
    case ReadingSource::voice:
        break;
    }
    return "voice";
}

ShownReading meter_shown_reading() {
    ShownReading shown;
    shown.source = reading_source();
    if (shown.source != ReadingSource::voice) {
        const dsp::DfReading r = meter_reading();
        shown.has_df = r.has_df;
        shown.df_hz = r.df_hz;
        shown.good = r.has_df && r.verdict == dsp::Verdict::good && r.span_s >= 1.0 - 1e-9;
        return shown;
    }
    const dsp::VoiceReading& v = voice.reading();
    shown.has_df = v.state == dsp::VoiceState::reading;
    shown.df_hz = shown.has_df ? v.df_hz : 0.0;
    shown.good = shown.has_df;
    shown.uncertainty_hz = shown.has_df ? v.uncertainty_hz : 0.0;
    shown.ambiguous = v.state == dsp::VoiceState::ambiguous;
    return shown;
}

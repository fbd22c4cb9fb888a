// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's capture: four blocks of 100 ms in the input queue, so the device always has one to
// fill while the others wait to be read; every block that comes back goes to the estimator and
// straight back into the queue, so no sample is lost between blocks. The XY pane reads the last
// 528 bytes of the newest block.
#include "meter/meter.h"

#include "app/tavrene.h"
#include "audio/capture.h"
#include "audio/heap.h"
#include "audio/tone.h"
#include "dsp/bandpass.h"
#include "dsp/stream_format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int queued_blocks = 4;
constexpr DWORD block_bytes = dsp::sample_rate_hz / 10; // 100 ms

HWAVEIN device = nullptr;
WAVEHDR* headers[queued_blocks] = {};
bool stopping = false;
// What the XY pane shows: the newest capture's last bytes, copied so that it never reads a block
// the device is filling.
unsigned char* xy_window = nullptr;
dsp::DfEstimator estimator;

// A restart's hold: blocks read by nobody, so that what came before it never enters a reading.
// Half a second after a retune: the receiver settles. At most three seconds after Off: a two-tone
// still there then is not the tail of the own.
constexpr size_t retune_hold_samples = dsp::sample_rate_hz / 2;
constexpr size_t quiet_hold_max_samples = 3 * dsp::sample_rate_hz;
size_t hold_left = 0;
bool hold_until_quiet = false;

// True while a restart holds, for a block just come. Until quiet, the block goes through the
// estimator only to see whether a two-tone is still there; the hold ends on the first block
// without one, and the estimator starts afresh from the next.
bool holding(const unsigned char* data, size_t bytes) {
    if (hold_left == 0) {
        return false;
    }
    hold_left -= std::min(hold_left, bytes);
    if (hold_until_quiet) {
        estimator.push(data, bytes);
        if (!estimator.tones_found()) {
            hold_left = 0;
        }
    }
    if (hold_left == 0) {
        estimator.reset();
    }
    return true;
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
    if (waveInOpen(&device, WAVE_MAPPER, &stream_format, reinterpret_cast<DWORD_PTR>(dialog), 0,
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
    const auto* data = reinterpret_cast<const unsigned char*>(hdr->lpData);
    const size_t bytes = hdr->dwBytesRecorded;
    if (device == nullptr || bytes > block_bytes) {
        return;
    }
    if (bytes > 0) {
        show_newest(data, bytes);
        if (!holding(data, bytes) && estimator.push(data, bytes) > 0) {
            display_reading(dialog, meter_reading());
        }
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

void meter_estimator_reset() {
    estimator.reset();
    hold_left = 0;
}

void meter_restart_reading(bool until_quiet) {
    estimator.reset();
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

ReadingSource reading_source() {
    return tone_device != nullptr && !tone_stopping ? ReadingSource::own : ReadingSource::heard;
}

const char* reading_source_word(ReadingSource s) {
    return s == ReadingSource::own ? "own" : "heard";
}

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

#include <cstring>

namespace {

constexpr int queued_blocks = 4;
constexpr DWORD block_bytes = 1102; // 100 ms at 11025 samples per second

HWAVEIN device = nullptr;
WAVEHDR* headers[queued_blocks] = {};
bool stopping = false;
// What the XY pane shows: the newest capture's last bytes, copied so that it never reads a block
// the device is filling.
unsigned char* xy_window = nullptr;
dsp::DfEstimator estimator;

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
        if (estimator.push(data, bytes) > 0) {
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
}

dsp::DfReading meter_reading() {
    dsp::DfReading reading = estimator.reading();
    // The level and the verdict are shown with the tone off too, the offset only while it plays:
    // the tone still on its way back after Off would bring a reading back after the readout
    // went blank.
    if (tone_device == nullptr || tone_stopping) {
        reading.has_df = false;
    }
    return reading;
}

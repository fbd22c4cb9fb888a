// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/capture.h"

#include "app/tavrene.h"
#include "audio/heap.h"
#include "dsp/bandpass.h"

#include <cstdlib>
#include <cstring>

StreamHeap stream_heap = {std::malloc, std::free};

const WAVEFORMATEX stream_format = {
    WAVE_FORMAT_PCM,     // format tag
    1,                   // channels
    dsp::sample_rate_hz, // samples per second
    dsp::sample_rate_hz, // average bytes per second
    1,                   // block alignment
    8,                   // bits per sample
    0,                   // extra size
};

unsigned char* capture_block = nullptr;

namespace {
HWAVEIN capture_device = nullptr;
WAVEHDR* capture_header = nullptr;
} // namespace

void capture_start(HWND dialog) {
    capture_header = static_cast<WAVEHDR*>(stream_alloc(sizeof(WAVEHDR)));
    auto* block = static_cast<unsigned char*>(
        capture_header != nullptr ? stream_alloc(dsp::capture_block_bytes) : nullptr);
    if (block == nullptr) {
        stream_free(capture_header);
        capture_header = nullptr;
        show_warning(dialog, "Error allocating memory!");
        return;
    }
    *capture_header = WAVEHDR{};
    if (waveInOpen(&capture_device, WAVE_MAPPER, &stream_format,
                   reinterpret_cast<DWORD_PTR>(dialog), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        capture_device = nullptr;
        stream_free(block);
        show_warning(dialog, "Error opening waveform audio device!");
        return;
    }
    // Silence until the first capture arrives: the figure starts as one dot in the centre.
    std::memset(block, dsp::tone_centre_byte, dsp::capture_block_bytes);
    capture_block = block;
    capture_header->lpData = reinterpret_cast<LPSTR>(block);
    capture_header->dwBufferLength = dsp::capture_block_bytes;
    capture_header->dwLoops = 1;
    waveInPrepareHeader(capture_device, capture_header, sizeof(WAVEHDR));
}

void capture_opened() {
    waveInAddBuffer(capture_device, capture_header, sizeof(WAVEHDR));
    waveInStart(capture_device);
}

void capture_block_filled(WAVEHDR* hdr) {
    // Straight back into the queue: nothing is copied, the XY pane reads the block in place.
    waveInAddBuffer(capture_device, hdr, sizeof(WAVEHDR));
}

void capture_reset() {
    if (capture_device != nullptr) {
        waveInReset(capture_device);
    }
}

void capture_shutdown() {
    if (capture_device != nullptr) {
        waveInReset(capture_device);
        waveInUnprepareHeader(capture_device, capture_header, sizeof(WAVEHDR));
        waveInClose(capture_device);
        capture_device = nullptr;
    }
    capture_block = nullptr;
    if (capture_header != nullptr) {
        stream_free(capture_header->lpData);
        stream_free(capture_header);
        capture_header = nullptr;
    }
}

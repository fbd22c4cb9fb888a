// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/tone.h"

#include "app/tavrene.h"
#include "audio/capture.h"
#include "audio/heap.h"
#include "dsp/synth.h"
#include "panes/panes.h"

HWAVEOUT tone_device = nullptr;
bool tone_stopping = false;
bool tone_exit_pending = false;

namespace {

WAVEHDR* tone_header[2] = {};
unsigned char* tone_block[2] = {};

void free_tone_memory() {
    for (int i = 0; i < 2; ++i) {
        stream_free(tone_header[i]);
        stream_free(tone_block[i]);
        tone_header[i] = nullptr;
        tone_block[i] = nullptr;
    }
}

bool allocate_tone_memory() {
    tone_header[0] = static_cast<WAVEHDR*>(stream_alloc(sizeof(WAVEHDR)));
    tone_header[1] =
        tone_header[0] ? static_cast<WAVEHDR*>(stream_alloc(sizeof(WAVEHDR))) : nullptr;
    tone_block[0] =
        tone_header[1] ? static_cast<unsigned char*>(stream_alloc(dsp::tone_block_bytes)) : nullptr;
    tone_block[1] =
        tone_block[0] ? static_cast<unsigned char*>(stream_alloc(dsp::tone_block_bytes)) : nullptr;
    if (tone_block[1] == nullptr) {
        free_tone_memory();
        return false;
    }
    return true;
}

bool any_header_prepared() {
    return ((tone_header[0]->dwFlags | tone_header[1]->dwFlags) & WHDR_PREPARED) != 0;
}

void fill_and_queue(WAVEHDR* hdr) {
    dsp::fill_tone_block(reinterpret_cast<unsigned char*>(hdr->lpData), dsp::base_frequency_hz);
    if (waveOutWrite(tone_device, hdr, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
        return;
    }
    // The device is gone (unplugged, sound server stopped). Stop the tone as Off does, so the
    // button never reads "Off" while nothing is sent; this block never left, so it counts as
    // handed back. The next press reports the missing device.
    tone_stopping = true;
    waveOutReset(tone_device);
    tone_block_done(hdr);
}

} // namespace

void tone_toggle(HWND dialog) {
    if (tone_device != nullptr) {
        tone_stopping = true;
        waveOutReset(tone_device); // every queued block comes back with MM_WOM_DONE
        return;
    }
    if (!allocate_tone_memory()) {
        show_warning(dialog, "Error allocating memory!");
        return;
    }
    tone_stopping = false;
    if (waveOutOpen(&tone_device, WAVE_MAPPER, &stream_format, reinterpret_cast<DWORD_PTR>(dialog),
                    0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        free_tone_memory();
        tone_device = nullptr;
        show_warning(dialog, "Error opening waveform output audio device!");
        return;
    }
    for (int i = 0; i < 2; ++i) {
        *tone_header[i] = WAVEHDR{};
        tone_header[i]->lpData = reinterpret_cast<LPSTR>(tone_block[i]);
        tone_header[i]->dwBufferLength = dsp::tone_block_bytes;
        tone_header[i]->dwLoops = 1;
        waveOutPrepareHeader(tone_device, tone_header[i], sizeof(WAVEHDR));
    }
    // Nothing is queued until the device reports that it is open.
}

void tone_opened(HWND dialog) {
    show_in_reference_area(dialog, reference_pane_class);
    SetDlgItemTextA(dialog, on_off_button_id, "Off");
    fill_and_queue(tone_header[0]);
    fill_and_queue(tone_header[1]); // the phase runs on from the first block
}

void tone_block_done(WAVEHDR* hdr) {
    if (!tone_stopping) {
        fill_and_queue(hdr);
        return;
    }
    // The audio layer wants its records back while the device is still open; once neither is
    // held, the device may close. Until then a close would be refused or leave a record behind.
    waveOutUnprepareHeader(tone_device, hdr, sizeof(WAVEHDR));
    if (!any_header_prepared()) {
        waveOutClose(tone_device);
    }
}

void tone_closed(HWND dialog) {
    show_in_reference_area(dialog, idle_pane_class);
    free_tone_memory();
    tone_device = nullptr;
    SetDlgItemTextA(dialog, on_off_button_id, "On");
    if (tone_exit_pending) {
        EndDialog(dialog, 0);
    }
}

bool tone_stop_for_close() {
    if (tone_device == nullptr) {
        return false;
    }
    tone_stopping = true;
    tone_exit_pending = true;
    waveOutReset(tone_device);
    return true;
}

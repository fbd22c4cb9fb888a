// SPDX-License-Identifier: GPL-3.0-or-later
// The capture stream: the audio input runs for the whole life of the dialog into one block that
// is queued again as soon as the device hands it back. The XY pane reads that block in place.
#pragma once

#include "platform/win32.h"

// The stream format (dsp/stream_format.h): both streams open their devices with it.
extern const WAVEFORMATEX stream_format;

// The capture block (528 bytes), or null while capture is off.
extern unsigned char* capture_block;

void capture_start(HWND dialog);
void capture_opened();                   // MM_WIM_OPEN
void capture_block_filled(WAVEHDR* hdr); // MM_WIM_DATA
void capture_reset();                    // stops capturing; the block comes back
void capture_shutdown();                 // end of the run: close the device, free its memory

// SPDX-License-Identifier: GPL-3.0-or-later
// The tone output stream: two 4096-byte blocks kept in the output queue and refilled with the
// two-tone as the device hands them back, switched on and off by the On/Off button.
#pragma once

#include "platform/win32.h"

// Null while the tone is off: the test of whether it plays.
extern HWAVEOUT tone_device;
// While set, blocks handed back are not refilled and the device is asked to close.
extern bool tone_stopping;
// Set by a close request while the tone plays: the dialog ends once the device has closed.
extern bool tone_exit_pending;

void tone_toggle(HWND dialog);      // the On/Off button
void tone_opened(HWND dialog);      // MM_WOM_OPEN
void tone_block_done(WAVEHDR* hdr); // MM_WOM_DONE
void tone_closed(HWND dialog);      // MM_WOM_CLOSE
// A close request: false when no tone plays and the dialog may end now; otherwise the tone
// stops, and the dialog ends once the output has closed (tone_closed).
bool tone_stop_for_close();

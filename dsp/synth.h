// SPDX-License-Identifier: GPL-3.0-or-later
// The two-tone test signal: f and 2f summed, as unsigned 8-bit samples at 11025 per second.
#pragma once

#include "dsp/stream_format.h"

#include <cstddef>

namespace dsp {

constexpr int base_frequency_hz = 1000;
constexpr size_t tone_block_bytes = 4096;
// 2 pi as the instrument has always written it; the reference pane uses the same value.
constexpr double two_pi = 6.283185;

// Writes `count` samples of the two-tone at `frequency_hz`, starting at `phase` (radians) and
// leaving `phase` where the next sample would start.
void synthesize(unsigned char* out, size_t count, int frequency_hz, double& phase);

// Fills one output block from the program's tone phase, which runs on from call to call for the
// whole run, so consecutive blocks (and a tone restarted later) join without a phase jump.
void fill_tone_block(unsigned char* block, int frequency_hz);

// The program's tone phase (0.0 at start, never reset), for tests and tools to read.
double tone_phase();

} // namespace dsp

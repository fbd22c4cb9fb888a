// SPDX-License-Identifier: GPL-3.0-or-later
// The band-pass pair: one captured block in, the points of the XY figure out. Filter A keeps the
// tone near 1000 Hz (horizontal), filter B the tone near 2000 Hz (vertical).
#pragma once

#include "dsp/stream_format.h"

#include <cstddef>

namespace dsp {

constexpr size_t capture_block_bytes = 528; // 512 filter positions + 16 taps
constexpr size_t filter_taps = 16;
constexpr size_t filter_positions = 512;
constexpr size_t xy_point_count = 511; // positions 1 to 511 are plotted

struct XYPoint {
    int x;
    int y;
};

extern const double filter_a[filter_taps];
extern const double filter_b[filter_taps];

// Runs both filters over `block` (528 bytes, the last never read), each sample taken about
// tone_centre_byte, and writes the pane coordinates of positions 1 to 511, in order, to `points`.
// Allocates nothing.
void compute_points(const unsigned char* block, XYPoint* points);

} // namespace dsp

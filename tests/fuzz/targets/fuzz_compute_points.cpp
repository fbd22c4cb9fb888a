// SPDX-License-Identifier: GPL-3.0-or-later
// Any capture block through the band-pass pair: no out-of-bounds read (byte 527 is never read,
// so the block given here has only 527 bytes), no undefined behaviour, and every point within
// the reach of the taps: at most 128 * (sum of |tap|) / 2 from the centre.
#include "dsp/bandpass.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

double reach(const double* taps) {
    double sum = 0;
    for (size_t k = 0; k < dsp::filter_taps; ++k) {
        sum += std::fabs(taps[k]);
    }
    return 128.0 * sum / 2.0 + 1.0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t read_bytes = dsp::capture_block_bytes - 1;
    const std::unique_ptr<unsigned char[]> block(new unsigned char[read_bytes]);
    std::memset(block.get(), 127, read_bytes);
    std::memcpy(block.get(), data, size < read_bytes ? size : read_bytes);

    dsp::XYPoint points[dsp::xy_point_count];
    dsp::compute_points(block.get(), points);
    static const double reach_x = reach(dsp::filter_a);
    static const double reach_y = reach(dsp::filter_b);
    for (const dsp::XYPoint& p : points) {
        if (std::abs(p.x - 44) > reach_x || std::abs(p.y - 44) > reach_y) {
            std::abort();
        }
    }
    dsp::XYPoint again[dsp::xy_point_count];
    dsp::compute_points(block.get(), again);
    if (std::memcmp(points, again, sizeof points) != 0) {
        std::abort();
    }
    return 0;
}

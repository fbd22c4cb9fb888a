// SPDX-License-Identifier: GPL-3.0-or-later
// A waveform block with its header, set up as the application sets its blocks up, and the one
// stream format.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace conformance {

struct Block {
    explicit Block(size_t size, uint8_t fill = 0) : bytes(size, fill) {
        header.lpData = reinterpret_cast<LPSTR>(bytes.data());
        header.dwBufferLength = static_cast<DWORD>(size);
        header.dwLoops = 1;
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    std::vector<uint8_t> bytes;
    WAVEHDR header{};
};

// Linear PCM, mono, 8-bit, 11025 samples per second.
inline WAVEFORMATEX stream_format() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 11025;
    f.nAvgBytesPerSec = 11025;
    f.nBlockAlign = 1;
    f.wBitsPerSample = 8;
    return f;
}

// The meter's capture: the same at 16 bits.
inline WAVEFORMATEX capture_format_16() {
    WAVEFORMATEX f = stream_format();
    f.nAvgBytesPerSec = 2 * 11025;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    return f;
}

} // namespace conformance

// A waveform block with its header, set up as the application sets its blocks up.
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

} // namespace conformance

// SPDX-License-Identifier: GPL-3.0-or-later
// Where the audio streams get their blocks and block records. A seam so that tests can make any
// allocation fail and count what is still held.
#pragma once

#include <cstddef>

struct StreamHeap {
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);
};

// The standard heap unless a test swaps it.
extern StreamHeap stream_heap;

inline void* stream_alloc(size_t bytes) {
    return stream_heap.allocate(bytes);
}
inline void stream_free(void* block) {
    if (block != nullptr) {
        stream_heap.release(block);
    }
}

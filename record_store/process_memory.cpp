// SPDX-License-Identifier: GPL-3.0-or-later

#include "record_store/record_store.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace RecordStore {

void keepFreedMemoryForTexts()
{
#if defined(__GLIBC__)
    // Texts up to this size come from the heap, not each from a mapping of
    // its own (the most the C library takes on a 64-bit system); and up to
    // this much freed memory at the heap's top is kept for the next write.
    constexpr int kLargestHeapText = 32 << 20;
    constexpr int kKeptAtTop = 256 << 20;
    mallopt(M_MMAP_THRESHOLD, kLargestHeapText);
    mallopt(M_TRIM_THRESHOLD, kKeptAtTop);
#endif
}

} // namespace RecordStore

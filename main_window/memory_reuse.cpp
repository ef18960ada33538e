// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/memory_reuse.h"

// Any C library header tells whether the library is glibc (__GLIBC__).
#include <cstdlib>
#ifdef __GLIBC__
#include <malloc.h>
#endif

void keepFreedMemoryForReuse()
{
#ifdef __GLIBC__
    // By default glibc serves a block above a threshold (128 KiB, raised up
    // to 32 MiB as such blocks are freed) with a mapping of its own, and hands
    // the free memory at the top of its heap back to the system once it
    // exceeds twice that. A write at 100,000 records frees buffers of 5.5 and
    // 11 MB (the file's bytes and its text), and a merging write holds 11 MB
    // more; given back after each write, their pages were faulted in again by
    // the next one, 4,000 to 12,000 faults (5 to 10 ms) a merge. Blocks up to
    // 32 MiB now come from the heap and up to 64 MiB of free memory stays in
    // it: the writes fault nothing, the peak memory stays as it was, and the
    // memory held between writes grows by what a write frees (see
    // docs/performance.md). Larger blocks, the texts of a million records,
    // are mapped and given back as before.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

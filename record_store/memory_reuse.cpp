// SPDX-License-Identifier: GPL-3.0-or-later

#include "record_store/record_store.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace RecordStore {

void keepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // A text of 100,000 records takes 11 MB, and a Save makes several. Left
    // to itself the C library hands the freed top of the heap back to the
    // system once it passes twice the largest block freed so far, so the
    // next Save writes into fresh pages again, each a fault that a virtual
    // machine can make costly (there, a Save took three times as long).
    // Blocks up to 32 MiB now come from the heap, and up to 64 MiB freed at
    // its top stay for the next ones.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

} // namespace RecordStore

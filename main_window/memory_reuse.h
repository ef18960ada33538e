// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Lets the C library keep the memory a write frees for the next write, instead
// of handing it back to the system after each one; called once at start-up,
// before any window exists. Does nothing where the C library is not glibc.
void keepFreedMemoryForReuse();

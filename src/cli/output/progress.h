// Keeps output moving for a program that reads it through a pipe, where the
// C library would otherwise hold it back until its buffer fills.
#pragma once

#include "streams.h"

#include <cstdint>

// Called after each line about an entry: flushes when the last flush lies
// 100 ms or more in the past. Costs one read of a monotonic clock.
void RBD_LinePrinted(RBDStreams &out);

// Called before an entry's bytes are copied: flushes first when the copy of
// `size` bytes may take a while, so that its line is seen before it starts.
void RBD_BeforeCopy(RBDStreams &out, uint64_t size);

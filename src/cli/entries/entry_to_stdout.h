// -O: the chosen entries' bytes, one after another, on standard output.
#pragma once

#include "../run_state.h"

#include <cstdint>

// Copies the entry's bytes to standard output. Data past the end of the
// package is a warning naming the entry, and nothing of it is written; a
// failed write to standard output is fatal.
void RBD_CopyEntryToStdout(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                           uint32_t size);

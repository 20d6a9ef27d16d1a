// Bounds what one run may write. Records may share data, so a small package
// could otherwise make its output grow with the square of its size.
#pragma once

#include <cstdint>

// Adds an entry's `size` to the bytes the run will write; false, with
// nothing added, when that would pass the budget: 64 times the package's
// size (the process-wide `package_size`) plus 1 GiB. A package whose records
// each hold data of their own writes at most its own size.
bool RBD_ChargeOutput(uint64_t size);

// Prints the fatal line for a run that would pass the budget, as a line:
// "ERROR: Output would pass %llu bytes (64 times the package plus 1 GiB), aborting!"
// The caller then ends the run with RBD_Exit(1).
void RBD_PrintBudgetExceeded(void);

// Forgets what was charged; for harnesses that run several loads in one
// process.
void RBD_ResetOutputBudget(void);

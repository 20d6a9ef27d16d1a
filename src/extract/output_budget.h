// Bounds what one run may write. Records may share data, so a small package
// could otherwise make its output grow with the square of its size.
#pragma once

#include <cstdint>

struct RBDBudget {
    uint64_t limit;   // most bytes the run may write
    uint64_t charged; // bytes charged so far
};

// 64 times the package's size plus 1 GiB: a package whose records each hold
// data of their own writes at most its own size.
uint64_t RBD_DefaultBudget(uint64_t package_size);

// Adds an entry's `size` to the bytes the run will write; false, with
// nothing added, when that would pass the limit.
bool RBD_ChargeOutput(RBDBudget &budget, uint64_t size);

// Where an entry's data lies in the package.
#pragma once

#include <cstdint>

// True when the `size` bytes at `offset` lie within the package. An empty
// entry reads nothing, wherever it claims to lie.
bool RBD_DataInPackage(uint32_t offset, uint32_t size);

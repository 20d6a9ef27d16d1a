// SipHash-1-3: a keyed hash, so that a package can't choose paths that all
// meet in one slot of a table whose key it does not know.
#pragma once

#include <cstddef>
#include <cstdint>

uint64_t RBD_SipHash13(const uint64_t key[2], const void *data, size_t length);

// Fills `key` with a key no package can know. Should the system's source of
// randomness fail, the addresses `a` and `b` (of the table being keyed) are
// used: they still differ from run to run.
void RBD_DrawHashKey(uint64_t key[2], const void *a, const void *b);

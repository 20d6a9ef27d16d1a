// --sha256: an entry's bytes read from the package and hashed.
#pragma once

#include "../run_state.h"

#include <cstdint>

// Hashes the `size` bytes at `offset` of the run's package (open), with the
// hash and buffer of `run.hashing`, made at the first call. With `hex`,
// writes the digest there: 64 lower-case hex digits and a zero byte. False
// when the bytes could not all be read (the package ends first, or a read
// failed). The status line moves as they are read. A hashing library that
// fails ends the run.
bool RBD_HashEntry(RBDRun &run, uint32_t offset, uint32_t size, char *hex);

// Gives back the hash and its buffer.
void RBD_ForgetHashing(RBDHashing &hashing);

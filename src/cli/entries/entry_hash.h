// --sha256: an entry's bytes read from the package and hashed.
#pragma once

#include "../run_state.h"

#include <atomic>
#include <cstdint>

// Hashes the `size` bytes at `offset` of the run's package (open), with the
// hash and buffer of `run.hashing`, made at the first call. With `hex`,
// writes the digest there: 64 lower-case hex digits and a zero byte. False
// when the bytes could not all be read (the package ends first, or a read
// failed). The status line moves as they are read. A hashing library that
// fails ends the run.
bool RBD_HashEntry(RBDRun &run, uint32_t offset, uint32_t size, char *hex);

// What RBD_HashRange made of a range.
enum RBDHashed { RBD_HASHED_WHOLE, RBD_HASHED_SHORT, RBD_HASHED_FAILED };

// The same on any thread, with the hash and buffer of `hashing` (made at the
// first call): SHORT when the bytes could not all be read, FAILED when the
// hashing library failed (or memory for it could not be had). `moved`, when
// set, counts the bytes read.
RBDHashed RBD_HashRange(RBDHashing &hashing, int fd, uint32_t offset, uint32_t size, char *hex,
                        std::atomic<uint64_t> *moved);

// Gives back the hash and its buffer.
void RBD_ForgetHashing(RBDHashing &hashing);

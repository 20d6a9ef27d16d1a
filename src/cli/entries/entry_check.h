// --test: meets each entry as an extraction would, without writing anything,
// and prints the warnings that the extraction would print.
#pragma once

#include "../run_state.h"

#include <cstdint>

// Checks one entry: an unsafe name, an output path too long, the package as
// the destination (a hard link or a mount of it where the entry would go,
// looked at without following links), and data past the end of the package;
// with --sha256 every byte of it is read and hashed too. A warning names the
// entry by its path under the output root (`group`, the normal group path,
// and its name), as in "WARNING: Failed to read in data, "data/a.wav"!"; the
// length of an output path is measured on `raw_group`, the group path as
// the package spells it, as extraction measures it. With workers (-j) the
// hashing is theirs, and the entry's warning comes once it and every entry
// before it are hashed: false then, true when it was checked and told here.
bool RBD_CheckEntry(RBDRun &run, const char *raw_group, const char *group, const char *filename,
                    uint32_t offset, uint32_t size, bool safe_group);

// The hooks of workers that hash the entries of -t --sha256, with a hash
// for each of `workers` made ready in `run`.
RBDParallelHooks RBD_HashingHooks(RBDRun &run, unsigned workers);

// Closes what the checks keep open between entries, and gives back the
// workers' hashes.
void RBD_EndChecks(RBDRun &run);

// "Tested: entries N, groups G, bytes B, package bytes P, expansion X": the
// entries chosen, the group records read, the entries' bytes, the package's
// size and the one over the other.
void RBD_PrintTestSummary(const RBDRun &run);

// --sha256 with -l: its "HASH  PATH" lines are for `sha256sum -c` run in the
// output root once the package is extracted, so they name only the files
// that an extraction into ./NAME/ leaves. An entry that extraction refuses
// (an unsafe name, an empty one, a path too long) leaves none, and of the
// entries of one path under the output root only the last one that it does
// not refuse is left: it was written over the earlier ones. Telling which is
// which takes the whole index, so it is read once before the walk that lists.
#pragma once

#include "../run_state.h"

// Reads the index of the run's package (open), as far as it can be read (a
// damaged one stops the walk that follows at the same place), and notes in
// `run.entries_left` for each entry in index order whether an extraction
// leaves it. Ends the run when the memory for the index's paths can't be had.
void RBD_FindEntriesLeft(RBDRun &run);

// Whether the next entry in index order is one that an extraction leaves;
// called once for every entry the walk meets, chosen or not.
bool RBD_NextIsLeft(RBDEntriesLeft &entries_left);

// Gives back what RBD_FindEntriesLeft kept.
void RBD_ForgetEntriesLeft(RBDEntriesLeft &entries_left);

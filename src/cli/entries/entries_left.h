// --sha256 with -l: its "HASH  PATH" lines are for `sha256sum -c` run in the
// output root once the package is extracted, so they name only the files
// that an extraction into ./NAME/ leaves. An entry that extraction refuses
// (an unsafe name, an empty one, a path too long) leaves none, and of the
// entries of one path under the output root only the last one that it does
// not refuse is left: it was written over the earlier ones. Telling which is
// which takes the whole index, so it is read once before the walk that lists.
#pragma once

#include "../../package/text_store.h"
#include "../../package/walk.h"
#include "../run_state.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// An entry that an extraction leaves: its path under the output root and
// where its data lies.
struct RBDEntryLeft {
    const char *path; // kept in the text store of RBD_CollectEntriesLeft
    size_t entry;     // its place in index order
    uint32_t offset;
    uint32_t size;
};

// Walks the index of the package open as `fd` as far as it can be read, and
// puts in `left` the entries that an extraction into the output root
// `root_name` leaves, one for each path, sorted by path byte by byte; their
// paths are kept in `text`. Gives the number of entries met; `error` says
// what stopped the walk early (RBD_PROBLEM_NONE when nothing did). Throws
// std::bad_alloc when memory can't be had.
size_t RBD_CollectEntriesLeft(int fd, const char *root_name, RBDTextStore &text,
                              std::vector<RBDEntryLeft> &left, RBDWalkError &error);

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

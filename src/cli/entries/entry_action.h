// The one place that decides what is done with each entry that the walk of
// the index meets: written out, listed, checked, copied to standard output,
// or nothing at all, as the run's mode says. The loader's walk, its order of
// reading and its messages are the same in every mode.
#pragma once

#include "../../package/walk.h"

#include <cstdint>

// Called by the loader once the header was read, before the first entry:
// prepares the mode's work on the package open as `package_fd`, and starts
// the status line when the run shows one.
void RBD_StartEntries(int package_fd, uint64_t package_size);

// Called by the loader for every ENTRY event of the walk, in index order.
// What names the entry to the user is its path under the output root (the
// normal group path and its name), but for the classic run's lines, which
// show the group path as the package spells it.
void RBD_HandleEntry(const RBDWalkEvent &event);

// Called by the loader for every group record it reads.
void RBD_NoteGroup();

// Called when the load ends, however: closes what the entries' work keeps
// open.
void RBD_EndEntries();

// What the walk met: the entries chosen, the group records read and the
// chosen entries' bytes.
struct RBDTotals {
    uint64_t entries;
    uint64_t groups;
    uint64_t bytes;
};

extern RBDTotals totals;

// The one place that decides what is done with each entry that the walk of
// the index meets: written out, listed, checked, copied to standard output,
// or nothing at all, as the run's mode says. The loader's walk, its order of
// reading and its messages are the same in every mode.
#pragma once

#include <cstdint>

// Called by the loader for every file record, in index order, with the
// record's group path (ending in a slash), name, offset and size. `safe_group`
// is false when a name along the group path could lead outside the output
// root.
void RBD_HandleEntry(const char *path, const char *filename, uint32_t offset, uint32_t size,
                     bool safe_group);

// Called by the loader for every group record it reads.
void RBD_NoteGroup();

// What the walk met: the entries chosen, the group records read and the
// chosen entries' bytes.
struct RBDTotals {
    uint64_t entries;
    uint64_t groups;
    uint64_t bytes;
};

extern RBDTotals totals;

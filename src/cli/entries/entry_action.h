// The one place that decides what is done with each entry that the walk of
// the index meets: written out, listed, checked, copied to standard output,
// or nothing at all, as the run's mode says. The loader's walk, its order of
// reading and its messages are the same in every mode.
#pragma once

#include <cstdint>

// Called by the loader once the header was read, before the first entry:
// prepares the mode's work on the package open as `package_fd`, and starts
// the status line when the run shows one.
void RBD_StartEntries(int package_fd, uint64_t package_size);

// Called by the loader for every file record, in index order, with the
// record's group path (ending in a slash), name, offset and size. `safe_group`
// is false when a name along the group path could lead outside the output
// root.
void RBD_HandleEntry(const char *path, const char *filename, uint32_t offset, uint32_t size,
                     bool safe_group);

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

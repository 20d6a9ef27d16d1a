// The package as the command line keeps it while it loads: its header and
// its top-level groups, with the file tables of the top-level file groups,
// for the contents report of -i.
#pragma once

#include "../types.h"

#include <cstdint>

// One node per top-level group record, chained in file order. Groups inside
// a directory group are read and their entries handled, but not kept.
struct RBDGroup {
    RBDGroupHeader header;
    RBDFileHeader *files; // file table of a file group, else null
    RBDGroup *next;       // next top-level group in file order
};

struct RBDPackage {
    char path[RBD_MAX_PATH + 1];
    RBDHeader header;
    RBDGroup *groups; // first top-level group
    // Index records the walk consumed, as it counts them: the final look
    // that found the end included. The contents report prints it.
    uint32_t records_read;
};

// The paths of a file table's entries under the output root (the normal
// group path and each entry's name), kept in a text store: the table's text
// is measured when the walk hands the table up, and its room taken at once,
// so that every entry's path then has its place.
#pragma once

#include "text_store.h"
#include "walk.h"

#include <cstddef>

struct RBDTableText {
    const char *group;   // the normal group path, kept once for the table
    size_t group_length; // its length
    char *next;          // where the next entry's path goes
};

// Keeps the normal group path of a FILE_TABLE event and room for the path of
// each entry of its table. Throws std::bad_alloc when memory can't be had.
RBDTableText RBD_KeepTableText(RBDTextStore &store, const RBDWalkEvent &event);

// Keeps the path of the entry `name` of the table that `text` was made for,
// in the room made for it; gives the kept path.
const char *RBD_KeepEntryPath(RBDTableText &text, const char *name);

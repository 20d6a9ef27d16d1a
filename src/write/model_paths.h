// The paths of the model's groups and entries, formed on demand from the
// names in their records and their parents, as the walk forms them: the
// model keeps no text of its own. Also their order in the index, for the
// rules that pick "the last" of several.
#pragma once

#include "write_model.h"

#include <cstddef>
#include <cstdint>

// Longest normal path of an entry: a group path and a name.
const size_t RBD_ENTRY_PATH_MAX = RBD_MAX_PATH + RBD_NAME_MAX;

struct RBDGroupPath {
    char normal[RBD_MAX_PATH + 1]; // "a/b/": empty names left out
    size_t normal_length;
    size_t spelled_length; // of the path as the package spells it, empty names and all
    bool safe;             // no name on it could lead outside the output root
};

// The group path of `group` (the top level's is "").
void RBD_GroupPathOf(const RBDWriteModel &model, uint32_t group, RBDGroupPath &path);

// The name of `entry` in `name` (RBD_NAME_FIELD bytes), zero-terminated;
// gives its length. An entry whose record can't be read from the base has
// the empty name here.
size_t RBD_EntryNameOf(const RBDWriteModel &model, uint32_t entry, char *name);

// The normal path of `entry` (group path and name) in `out`, of
// RBD_ENTRY_PATH_MAX + 1 bytes; gives its length.
size_t RBD_EntryPathOf(const RBDWriteModel &model, uint32_t entry, char *out);

// True when extraction into a directory of the caller's refuses an entry
// named `name` in the group of path `group` (what KR_ENTRY_UNSAFE says).
bool RBD_NameIsUnsafe(const char *name, size_t length, const RBDGroupPath &group);

// True when group `a` comes before group `b` in the index; an entry before
// another. Costs the depth of the groups and the members of those met.
bool RBD_GroupBefore(const RBDWriteModel &model, uint32_t a, uint32_t b);
bool RBD_EntryBefore(const RBDWriteModel &model, uint32_t a, uint32_t b);

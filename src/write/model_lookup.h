// Finding the model's entries and groups by path, as reading finds them.
#pragma once

#include "write_model.h"

#include <cstddef>
#include <cstdint>
#include <vector>

const int64_t RBD_NONE = -1;

// The entry that kr_find would give for `path` in the package as edited so
// far: of the entries of that path, the last one extraction does not refuse,
// else the last one; RBD_NONE when there is none.
int64_t RBD_FindEntry(const RBDWriteModel &model, const char *path, size_t length);

// Every entry of `path`, in no particular order.
void RBD_EntriesAt(const RBDWriteModel &model, const char *path, size_t length,
                   std::vector<uint32_t> &found);

// The last group of `kind` whose normal group path is `path` ("a/b/");
// RBD_NONE when there is none. Groups left empty count: an entry put there
// fills them again.
int64_t RBD_FindGroup(const RBDWriteModel &model, const char *path, size_t length,
                      RBDGroupKind kind);

// True when the group at `path` would be written: it holds an entry below
// it, or it is a group the base had empty, or one of a kind reading does not
// know. A group whose entries were all removed is no longer there.
bool RBD_GroupPathIsTaken(const RBDWriteModel &model, const char *path, size_t length);

// Builds both tables anew from the model as it is; the table of groups
// alone. Throws std::bad_alloc.
void RBD_IndexAll(RBDWriteModel &model);
void RBD_IndexGroups(RBDWriteModel &model);

// Puts the entry, or the group, in its table under its path as it is now.
// Throws std::bad_alloc.
void RBD_IndexEntry(RBDWriteModel &model, uint32_t entry);
void RBD_IndexGroup(RBDWriteModel &model, uint32_t group);

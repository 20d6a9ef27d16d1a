// What an open package holds: its entries in index order, compact, with their
// paths in one block of text, and a table to find an entry by its path.
#pragma once

#include "kestrun/kestrun.h"

#include <cstddef>
#include <cstdint>
#include <vector>

const uint32_t RBD_PUBLIC_FLAGS =
    KR_ENTRY_UNSAFE | KR_ENTRY_NO_DATA | KR_ENTRY_SHADOWED | KR_ENTRY_UNSAFE_GROUP;

struct RBDEntryRecord {
    uint32_t offset;
    uint32_t size;
    uint32_t flags;
    uint32_t group_length; // the name starts this far into the path
    size_t group_at;       // the group path's text in `strings`
    size_t path_at;        // the path's text in `strings`
};

struct RBDPathSlot {
    uint32_t entry_plus_one; // 0: the slot is free
    uint32_t hash_tag;       // the hash's high bits, to skip most comparisons
};

struct kr_package {
    int fd; // the package's own descriptor, read only at explicit offsets
    kr_info info;
    std::vector<RBDEntryRecord> entries;
    // Every group path once, then every entry's path, each zero-terminated.
    std::vector<char> strings;
    uint64_t hash_key[2];
    std::vector<RBDPathSlot> slots; // a power of two, at least twice the entries
};

// Appends `text` (zero-terminated) to the package's strings; where it starts.
size_t RBD_KeepText(kr_package &pkg, const char *text, size_t length);

// Builds the path table once every entry is in, and flags each entry that a
// later one of the same path shadows. False when its memory can't be had.
bool RBD_IndexPaths(kr_package &pkg);

// The number of the last entry whose path is `path`, or -1.
int64_t RBD_FindPath(const kr_package &pkg, const char *path);

// Fills the public view of entry `index`.
void RBD_ViewEntry(const kr_package &pkg, uint32_t index, kr_entry &out);

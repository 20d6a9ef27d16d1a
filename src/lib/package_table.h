// What an open package holds: its entries in index order, compact, with their
// paths in blocks of text sized from the index, and a table to find an entry
// by its path.
#pragma once

#include "../hostkit/hostkit.h"
#include "../package/package_source.h"
#include "../package/text_store.h"
#include "../types.h"
#include "kestrun/kestrun.h"

#include <cstddef>
#include <cstdint>
#include <vector>

const uint32_t RBD_PUBLIC_FLAGS =
    KR_ENTRY_UNSAFE | KR_ENTRY_NO_DATA | KR_ENTRY_SHADOWED | KR_ENTRY_UNSAFE_GROUP;

// An entry's paths are normal (group_path.h): the group path with its empty
// names left out, as extraction writes it, and the entry's name after it.
static_assert(RBD_MAX_PATH <= UINT16_MAX, "group path lengths fit 16 bits");

struct RBDEntryRecord {
    uint32_t offset;
    uint32_t size;
    uint32_t flags;
    uint16_t group_length; // of the normal group path: the name starts this far into `path`
    // Of the group path as the package spells it, empty names and all: the
    // limit on an output path's length measures that, as the command line's
    // classic run always has, so that a verdict below any output root's name
    // is the command line's.
    uint16_t raw_group_length;
    const char *group; // the normal group path, shared by the entries of its file table
    const char *path;  // the normal group path followed by the name
};

struct RBDPathSlot {
    uint32_t entry_plus_one; // 0: the slot is free
    uint32_t hash_tag;       // the hash's high bits, to skip most comparisons
};

struct kr_package {
    // Where its bytes come from: its own descriptor, read only at explicit
    // offsets, or the caller's read function (kr_open_source; fd is then -1,
    // and what needs a descriptor is refused).
    RBDPackageSource source;
    int fd;
    kr_info info;
    // The file as it was when it was opened, so that a writer can tell
    // whether it changed since (no lost updates).
    hkFileStamp stamp;
    // Where it was opened from (kr_open: the name its path led to, links
    // followed), so that a writer of that path can tell that another file
    // took the name since; `placed` is false for kr_open_fd.
    hkFilePlace place;
    bool placed;
    std::vector<RBDEntryRecord> entries;
    RBDTextStore text; // the paths: each file table's measured before it is kept
    uint64_t hash_key[2];
    std::vector<RBDPathSlot> slots; // a power of two, at least twice the entries
};

// KR_OK when the package has a descriptor of its own, which `what` needs;
// else KR_E_INVALID, saying so in `*err`.
int RBD_NeedDescriptor(const kr_package &pkg, const char *what, kr_error *err);

// Builds the path table once every entry is in, and flags each entry that a
// later one of the same path shadows. False when its memory can't be had.
bool RBD_IndexPaths(kr_package &pkg);

// The number of the last entry whose path is `path`, or -1.
int64_t RBD_FindPath(const kr_package &pkg, const char *path);

// Fills the public view of entry `index`.
void RBD_ViewEntry(const kr_package &pkg, uint32_t index, kr_entry &out);

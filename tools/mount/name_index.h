// Finds a node by its parent and name while the tree is being laid out, in
// constant time on average. Its hash is keyed with a random key, so that a
// package can't choose names that all meet in one slot.
#pragma once

#include "node_table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct NameSlot {
    uint32_t node_plus_one; // 0: the slot is free
    uint32_t tag;           // the hash's high half, to pass over most others unread
};

struct NameIndex {
    uint64_t key[2];
    std::vector<NameSlot> slots; // a power of two, at most half of them used
    size_t used;
};

// An empty index with a fresh key, with room for `expected_nodes` before it
// must grow. Throws std::bad_alloc.
void StartNameIndex(NameIndex &index, size_t expected_nodes);

// The hash of `name` (`length` bytes) below `parent`, for FindName and AddName.
uint64_t HashName(const NameIndex &index, uint32_t parent, const char *name, size_t length);

// The node named `name` below `parent`, whose hash is `hash`, or kNoNode.
uint32_t FindName(const NameIndex &index, const MountTable &table, uint64_t hash, uint32_t parent,
                  const char *name, size_t length);

// Adds `node`, whose parent and name are set, whose hash is `hash` and which
// is not in yet. Throws std::bad_alloc.
void AddName(NameIndex &index, const MountTable &table, uint32_t node, uint64_t hash);

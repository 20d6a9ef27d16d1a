// Finds a node by its parent and name while the tree is being laid out, in
// constant time on average. Its hash is keyed with a random key, so that a
// package can't choose names that all meet in one slot.
#pragma once

#include "node_table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct NameIndex {
    uint64_t key[2];
    std::vector<uint32_t> slots; // node + 1; 0 for a free slot
    size_t used;
};

// An empty index with a fresh key. Throws std::bad_alloc.
void StartNameIndex(NameIndex &index);

// The node named `name` (of `length` bytes) below `parent`, or kNoNode.
uint32_t FindName(const NameIndex &index, const MountTable &table, uint32_t parent,
                  const char *name, size_t length);

// Adds `node`, whose parent and name are set and which is not in yet. The
// table grows to stay at most half full, so every probe ends. Throws
// std::bad_alloc.
void AddName(NameIndex &index, const MountTable &table, uint32_t node);

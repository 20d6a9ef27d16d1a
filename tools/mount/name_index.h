// Finds a node by its parent and name while the tree is being laid out, in
// logarithmic time whatever the names: the nodes are kept ordered by parent,
// then name, so no choice of names by a package can make a search slower.
#pragma once

#include "node_table.h"

#include <cstddef>
#include <cstdint>
#include <set>

// Orders node numbers by (parent, name) in the table; a NameKey, for a name
// not yet in the table, is compared the same way.
struct NameKey {
    uint32_t parent;
    const char *name;
    size_t length;
};

struct NameOrder {
    using is_transparent = void;
    const MountTable *table;
    NameKey KeyOf(uint32_t node) const;
    static NameKey KeyOf(const NameKey &key) {
        return key;
    }
    template <typename A, typename B> bool operator()(const A &a, const B &b) const {
        return Less(KeyOf(a), KeyOf(b));
    }
    static bool Less(const NameKey &a, const NameKey &b);
};

struct NameIndex {
    std::set<uint32_t, NameOrder> nodes;
};

// An empty index of the nodes of `table`. Throws std::bad_alloc.
void StartNameIndex(NameIndex &index, const MountTable &table);

// The node named `name` (`length` bytes) below `parent`, or kNoNode.
uint32_t FindName(const NameIndex &index, uint32_t parent, const char *name, size_t length);

// Adds `node`, whose parent and name are set in the table and which is not
// in yet. Throws std::bad_alloc.
void AddName(NameIndex &index, uint32_t node);

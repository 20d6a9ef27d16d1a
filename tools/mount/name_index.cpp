#include "name_index.h"

#include "lib/siphash.h"

#include <cstring>

namespace {

bool Matches(const MountTable &table, uint32_t node, uint32_t parent, const char *name,
             size_t length) {
    const MountNode &at = table.nodes[node];
    return at.parent == parent && at.name_length == length &&
           std::memcmp(table.names.data() + at.name_at, name, length) == 0;
}

void Insert(NameIndex &index, uint32_t node, uint64_t hash) {
    size_t mask = index.slots.size() - 1;
    size_t slot = static_cast<size_t>(hash) & mask;
    while (index.slots[slot].node_plus_one != 0) {
        slot = (slot + 1) & mask;
    }
    index.slots[slot] = NameSlot{node + 1, static_cast<uint32_t>(hash >> 32)};
}

// Twice the slots, every node placed again (its hash computed anew).
void Grow(NameIndex &index, const MountTable &table) {
    std::vector<NameSlot> old;
    old.swap(index.slots);
    index.slots.assign(old.size() * 2, NameSlot{0, 0});
    for (const NameSlot &held : old) {
        if (held.node_plus_one != 0) {
            const MountNode &at = table.nodes[held.node_plus_one - 1];
            Insert(index, held.node_plus_one - 1,
                   HashName(index, at.parent, table.names.data() + at.name_at, at.name_length));
        }
    }
}

} // namespace

void StartNameIndex(NameIndex &index, size_t expected_nodes) {
    size_t slots = 1024;
    while (slots / 2 < expected_nodes) {
        slots *= 2;
    }
    index.slots.assign(slots, NameSlot{0, 0});
    index.used = 0;
    RBD_DrawHashKey(index.key, index.slots.data(), &index);
}

uint64_t HashName(const NameIndex &index, uint32_t parent, const char *name, size_t length) {
    // The name is hashed with the secret key; the parent is mixed into the
    // result, which the package can't predict either.
    uint64_t hash = RBD_SipHash13(index.key, name, length);
    hash ^= (uint64_t{parent} + 1) * 0x9E3779B97F4A7C15u;
    return hash ^ (hash >> 29);
}

uint32_t FindName(const NameIndex &index, const MountTable &table, uint64_t hash, uint32_t parent,
                  const char *name, size_t length) {
    size_t mask = index.slots.size() - 1;
    auto tag = static_cast<uint32_t>(hash >> 32);
    for (size_t slot = static_cast<size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        const NameSlot &held = index.slots[slot];
        if (held.node_plus_one == 0) {
            return kNoNode;
        }
        if (held.tag == tag && Matches(table, held.node_plus_one - 1, parent, name, length)) {
            return held.node_plus_one - 1;
        }
    }
}

void AddName(NameIndex &index, const MountTable &table, uint32_t node, uint64_t hash) {
    if ((index.used + 1) * 2 > index.slots.size()) {
        Grow(index, table);
    }
    Insert(index, node, hash);
    ++index.used;
}

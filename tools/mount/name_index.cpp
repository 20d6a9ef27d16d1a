#include "name_index.h"

#include "lib/siphash.h"

#include <cstring>
#include <random>

namespace {

size_t SlotOf(const NameIndex &index, uint32_t parent, const char *name, size_t length) {
    // The name is hashed with the secret key; the parent is mixed into the
    // result, which the package can't predict either.
    uint64_t hash = RBD_SipHash13(index.key, name, length);
    hash ^= (uint64_t{parent} + 1) * 0x9E3779B97F4A7C15u;
    hash ^= hash >> 29;
    return static_cast<size_t>(hash) & (index.slots.size() - 1);
}

bool Matches(const MountTable &table, uint32_t node, uint32_t parent, const char *name,
             size_t length) {
    const MountNode &at = table.nodes[node];
    return at.parent == parent && at.name_length == length &&
           std::memcmp(table.names.data() + at.name_at, name, length) == 0;
}

void Insert(NameIndex &index, const MountTable &table, uint32_t node) {
    const MountNode &at = table.nodes[node];
    size_t mask = index.slots.size() - 1;
    size_t slot = SlotOf(index, at.parent, table.names.data() + at.name_at, at.name_length);
    while (index.slots[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    index.slots[slot] = node + 1;
}

// Twice the slots, every node placed again.
void Grow(NameIndex &index, const MountTable &table) {
    std::vector<uint32_t> old;
    old.swap(index.slots);
    index.slots.assign(old.size() * 2, 0);
    for (uint32_t held : old) {
        if (held != 0) {
            Insert(index, table, held - 1);
        }
    }
}

} // namespace

void StartNameIndex(NameIndex &index) {
    index.slots.assign(1024, 0);
    index.used = 0;
    try {
        std::random_device random;
        for (uint64_t &word : index.key) {
            word = (uint64_t{random()} << 32) ^ random();
        }
    } catch (const std::exception &) {
        // No source of randomness: the table's own address still differs
        // from run to run.
        index.key[0] = reinterpret_cast<uintptr_t>(index.slots.data());
        index.key[1] = reinterpret_cast<uintptr_t>(&index);
    }
}

uint32_t FindName(const NameIndex &index, const MountTable &table, uint32_t parent,
                  const char *name, size_t length) {
    size_t mask = index.slots.size() - 1;
    for (size_t slot = SlotOf(index, parent, name, length);; slot = (slot + 1) & mask) {
        uint32_t held = index.slots[slot];
        if (held == 0) {
            return kNoNode;
        }
        if (Matches(table, held - 1, parent, name, length)) {
            return held - 1;
        }
    }
}

void AddName(NameIndex &index, const MountTable &table, uint32_t node) {
    if ((index.used + 1) * 2 > index.slots.size()) {
        Grow(index, table);
    }
    Insert(index, table, node);
    ++index.used;
}

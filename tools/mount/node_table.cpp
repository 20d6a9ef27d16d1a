#include "node_table.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Names are compared as strcmp does, byte by byte as unsigned char, so that
// the sort and the search agree whatever bytes a package's names hold. Each
// name's first eight bytes, zero-padded, as one big-endian number, order the
// names as strcmp does wherever they differ; only equal ones need the names.
uint64_t PrefixKey(const char *name) {
    uint64_t key = 0;
    for (int shift = 56; shift >= 0 && *name != '\0'; shift -= 8, ++name) {
        key |= uint64_t{static_cast<unsigned char>(*name)} << shift;
    }
    return key;
}

struct ByName {
    const MountTable *table;
    const std::vector<uint64_t> *keys;
    bool operator()(uint32_t a, uint32_t b) const {
        uint64_t key_a = (*keys)[a];
        uint64_t key_b = (*keys)[b];
        if (key_a != key_b) {
            return key_a < key_b;
        }
        return std::strcmp(NodeName(*table, a), NodeName(*table, b)) < 0;
    }
};

} // namespace

uint32_t NodeOfInode(const MountTable &table, uint64_t ino) {
    if (ino == 0 || ino > table.nodes.size()) {
        return kNoNode;
    }
    return static_cast<uint32_t>(ino - 1);
}

uint32_t FindChild(const MountTable &table, uint32_t dir, const char *name) {
    const MountNode &node = table.nodes[dir];
    uint32_t low = node.first_child;
    uint32_t high = node.first_child + node.child_count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        uint32_t child = table.children[middle];
        int order = std::strcmp(NodeName(table, child), name);
        if (order == 0) {
            return child;
        }
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return kNoNode;
}

bool ListChildren(MountTable &table) {
    std::vector<MountNode> &nodes = table.nodes;
    try {
        table.children.assign(nodes.empty() ? 0 : nodes.size() - 1, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (MountNode &node : nodes) {
        node.child_count = 0;
        node.subdirectories = 0;
    }
    for (size_t n = 1; n < nodes.size(); ++n) {
        MountNode &parent = nodes[nodes[n].parent];
        ++parent.child_count;
        if (IsDirectoryNode(nodes[n])) {
            ++parent.subdirectories;
        }
    }
    uint32_t next = 0;
    for (MountNode &node : nodes) {
        node.first_child = next;
        next += node.child_count;
        node.child_count = 0; // counts again as the children are placed
    }
    for (size_t n = 1; n < nodes.size(); ++n) {
        MountNode &parent = nodes[nodes[n].parent];
        table.children[parent.first_child + parent.child_count++] = static_cast<uint32_t>(n);
    }
    std::vector<uint64_t> keys;
    try {
        keys.resize(nodes.size());
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (size_t n = 0; n < nodes.size(); ++n) {
        keys[n] = PrefixKey(NodeName(table, static_cast<uint32_t>(n)));
    }
    for (const MountNode &node : nodes) {
        auto first = table.children.begin() + node.first_child;
        std::sort(first, first + node.child_count, ByName{&table, &keys});
    }
    return true;
}

#include "name_index.h"

#include <algorithm>
#include <cstring>

NameKey NameOrder::KeyOf(uint32_t node) const {
    const MountNode &at = table->nodes[node];
    return NameKey{at.parent, table->names.data() + at.name_at, at.name_length};
}

bool NameOrder::Less(const NameKey &a, const NameKey &b) {
    if (a.parent != b.parent) {
        return a.parent < b.parent;
    }
    int order = std::memcmp(a.name, b.name, std::min(a.length, b.length));
    return order != 0 ? order < 0 : a.length < b.length;
}

void StartNameIndex(NameIndex &index, const MountTable &table) {
    index.nodes = std::set<uint32_t, NameOrder>(NameOrder{&table});
}

uint32_t FindName(const NameIndex &index, uint32_t parent, const char *name, size_t length) {
    auto found = index.nodes.find(NameKey{parent, name, length});
    return found == index.nodes.end() ? kNoNode : *found;
}

void AddName(NameIndex &index, uint32_t node) {
    index.nodes.insert(node);
}

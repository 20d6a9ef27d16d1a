#include "tree_layout.h"

#include "name_index.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// The directory reached after one name of a group path, and where that
// name's slash lies in the path.
// (cppcheck misses the uses through std::vector.)
struct GroupLevel {
    // cppcheck-suppress unusedStructMember
    size_t slash_at;
    // cppcheck-suppress unusedStructMember
    uint32_t dir;
};

struct Layout {
    MountTable *table;
    NameIndex index;
    // The group path met last and the directories of its names so far:
    // entries come group by group, and a group's path mostly shares its
    // start with the one before, so each name is looked up once per change.
    std::string group;
    std::vector<GroupLevel> levels;
};

uint32_t AddNode(Layout &layout, uint32_t parent, const char *name, size_t length, uint32_t entry,
                 uint64_t size) {
    MountTable &table = *layout.table;
    if (table.nodes.size() >= kNoNode - 1) {
        throw std::bad_alloc(); // more nodes than their numbers can count
    }
    MountNode node{};
    node.parent = parent;
    node.entry = entry;
    node.name_at = table.names.size();
    node.name_length = static_cast<uint32_t>(length);
    node.size = size;
    table.names.insert(table.names.end(), name, name + length);
    table.names.push_back('\0');
    table.nodes.push_back(node);
    auto number = static_cast<uint32_t>(table.nodes.size() - 1);
    AddName(layout.index, number);
    return number;
}

size_t SharedLength(const std::string &a, const char *b) {
    size_t n = 0;
    while (n < a.size() && a[n] == b[n]) {
        ++n;
    }
    return n;
}

// The directory of `group`, made where missing, as the extraction's walk
// below the output root makes it; kNoNode when a file is in the way.
uint32_t GroupDirectory(Layout &layout, const char *group) {
    const MountTable &table = *layout.table;
    // The levels whose name and slash the new path shares stay.
    size_t shared = SharedLength(layout.group, group);
    while (!layout.levels.empty() && layout.levels.back().slash_at >= shared) {
        layout.levels.pop_back();
    }
    layout.group.assign(group);
    uint32_t dir = layout.levels.empty() ? 0 : layout.levels.back().dir;
    size_t at = layout.levels.empty() ? 0 : layout.levels.back().slash_at + 1;
    while (group[at] != '\0') {
        size_t length = std::strcspn(group + at, "/");
        if (length > 0) {
            uint32_t child = FindName(layout.index, dir, group + at, length);
            if (child == kNoNode) {
                child = AddNode(layout, dir, group + at, length, kNoEntry, 0);
            } else if (!IsDirectoryNode(table.nodes[child])) {
                return kNoNode;
            }
            dir = child;
        }
        layout.levels.push_back(GroupLevel{at + length, dir});
        at += length;
        if (group[at] == '/') {
            ++at;
        }
    }
    return dir;
}

void PlaceEntry(Layout &layout, const kr_entry &entry, const char *root_name, LeftOutReport report,
                void *context) {
    const kr_package *package = layout.table->package;
    int verdict = kr_entry_verdict(package, entry.index, root_name);
    if (verdict == KR_OUTCOME_UNSAFE || verdict == KR_OUTCOME_TOO_LONG) {
        report(context, package, entry, verdict);
        return;
    }
    uint32_t dir = GroupDirectory(layout, entry.group);
    if (dir == kNoNode) {
        report(context, package, entry, KR_OUTCOME_NO_PATH);
        return;
    }
    if (verdict != KR_OUTCOME_WRITTEN) {
        report(context, package, entry, verdict); // the empty name, below its directory
        return;
    }
    MountTable &table = *layout.table;
    size_t length = std::strlen(entry.name);
    uint64_t size = (entry.flags & KR_ENTRY_NO_DATA) != 0 ? 0 : entry.size;
    uint32_t node = FindName(layout.index, dir, entry.name, length);
    if (node == kNoNode) {
        AddNode(layout, dir, entry.name, length, entry.index, size);
    } else if (IsDirectoryNode(table.nodes[node])) {
        report(context, package, entry, KR_OUTCOME_WRITE_FAILED);
    } else {
        table.nodes[node].entry = entry.index;
        table.nodes[node].size = size;
    }
}

} // namespace

bool LayOutTree(MountTable &table, const char *root_name, LeftOutReport report, void *context) {
    try {
        table.nodes.assign(1, MountNode{0, kNoEntry, 0, 0, 0, 0, 0, 0});
        table.names.assign(1, '\0');
        Layout layout{&table, NameIndex{}, std::string(), std::vector<GroupLevel>()};
        StartNameIndex(layout.index, table);
        uint32_t count = kr_entry_count(table.package);
        for (uint32_t i = 0; i < count; ++i) {
            kr_entry entry;
            if (kr_entry_at(table.package, i, &entry) == KR_OK) {
                PlaceEntry(layout, entry, root_name, report, context);
            }
        }
        table.nodes.shrink_to_fit();
        table.names.shrink_to_fit();
        return ListChildren(table);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

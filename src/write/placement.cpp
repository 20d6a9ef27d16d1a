#include "placement.h"

#include "model_lookup.h"
#include "model_paths.h"

#include <cstring>

namespace {

size_t SpelledLength(const RBDWriteModel &model, uint32_t group) {
    RBDGroupPath path;
    RBD_GroupPathOf(model, group, path);
    return path.spelled_length;
}

// rbdpack orders a directory's groups by name, and a directory group before
// the file group of the same name.
int KindRank(RBDGroupKind kind) {
    return kind == RBD_KIND_DIRECTORY ? 0 : kind == RBD_KIND_FILES ? 1 : 2;
}

// True when group `member` sorts at or before a group named `name` of `kind`.
bool SortsAtOrBefore(const RBDWriteGroup &member, const char *name, size_t length,
                     RBDGroupKind kind) {
    size_t member_length = 0;
    const char *member_name = RBD_RecordName(member.record, &member_length);
    size_t common = member_length < length ? member_length : length;
    int order = std::memcmp(member_name, name, common);
    if (order != 0) {
        return order < 0;
    }
    if (member_length != length) {
        return member_length < length;
    }
    return KindRank(member.kind) <= KindRank(kind);
}

// Makes a group named `name` of `kind` in `parent`, at `place` among its
// members; gives its number.
uint32_t MakeGroup(RBDWriteModel &model, uint32_t parent, size_t place, const char *name,
                   size_t length, RBDGroupKind kind) {
    RBDWriteGroup group{};
    uint32_t flags = kind == RBD_KIND_DIRECTORY ? RBD_DIRECTORY_GROUP : RBD_FILE_GROUP;
    group.record = RBD_NewGroupRecord(flags, name, length);
    group.parent = parent;
    group.kind = kind;
    auto id = static_cast<uint32_t>(model.groups.size());
    model.groups.push_back(std::move(group));
    std::vector<uint32_t> &members = model.groups[parent].members;
    members.insert(members.begin() + static_cast<std::ptrdiff_t>(place), id);
    RBD_IndexGroup(model, id);
    return id;
}

// Makes the group in sorted place among the members of `parent`.
uint32_t MakeSortedGroup(RBDWriteModel &model, uint32_t parent, const char *name, size_t length,
                         RBDGroupKind kind) {
    const std::vector<uint32_t> &members = model.groups[parent].members;
    size_t place = members.size();
    while (place > 0 && !SortsAtOrBefore(model.groups[members[place - 1]], name, length, kind)) {
        --place;
    }
    return MakeGroup(model, parent, place, name, length, kind);
}

} // namespace

RBDPlacement RBD_PlanPlacement(const RBDWriteModel &model, const char *group_path, size_t length) {
    RBDPlacement placement{RBD_NONE, RBD_TOP_GROUP, false, 0, length};
    int64_t found = RBD_FindGroup(model, group_path, length, RBD_KIND_FILES);
    if (found != RBD_NONE) {
        placement.file_group = found;
        placement.spelled_length = SpelledLength(model, static_cast<uint32_t>(found));
        return placement;
    }
    found = RBD_FindGroup(model, group_path, length, RBD_KIND_DIRECTORY);
    if (found != RBD_NONE) {
        placement.anchor = static_cast<uint32_t>(found);
        placement.sibling = true;
        placement.spelled_length = SpelledLength(model, placement.anchor);
        return placement;
    }
    // The longest leading part ending in a slash that a directory group has.
    for (size_t end = length - 1; end > 0; --end) {
        if (group_path[end - 1] != '/') {
            continue;
        }
        found = RBD_FindGroup(model, group_path, end, RBD_KIND_DIRECTORY);
        if (found != RBD_NONE) {
            placement.anchor = static_cast<uint32_t>(found);
            placement.made_from = end;
            placement.spelled_length = SpelledLength(model, placement.anchor) + (length - end);
            return placement;
        }
    }
    return placement;
}

uint32_t RBD_ApplyPlacement(RBDWriteModel &model, const char *group_path, size_t length,
                            const RBDPlacement &placement) {
    if (placement.file_group != RBD_NONE) {
        return static_cast<uint32_t>(placement.file_group);
    }
    if (placement.sibling) {
        const RBDWriteGroup &anchor = model.groups[placement.anchor];
        size_t name_length = 0;
        const char *name = RBD_RecordName(anchor.record, &name_length);
        char kept[RBD_NAME_FIELD];
        std::memcpy(kept, name, name_length);
        uint32_t parent = anchor.parent;
        const std::vector<uint32_t> &members = model.groups[parent].members;
        size_t place = 0;
        while (members[place] != placement.anchor) {
            ++place;
        }
        return MakeGroup(model, parent, place + 1, kept, name_length, RBD_KIND_FILES);
    }
    uint32_t parent = placement.anchor;
    for (size_t start = placement.made_from; start < length;) {
        size_t end = start;
        while (group_path[end] != '/') {
            ++end;
        }
        RBDGroupKind kind = end + 1 == length ? RBD_KIND_FILES : RBD_KIND_DIRECTORY;
        parent = MakeSortedGroup(model, parent, group_path + start, end - start, kind);
        start = end + 1;
    }
    return parent;
}

#include "model_paths.h"

#include "../extract/entry_data.h"
#include "../package/safe_name.h"

#include <algorithm>
#include <cstring>

namespace {

// Every group path is at most RBD_MAX_PATH bytes and each level adds one
// at least, so no chain is deeper.
const size_t kMaxDepth = RBD_MAX_PATH;

// The groups from the top level's child down to `group`, in `chain`; gives
// how many.
size_t ChainOf(const RBDWriteModel &model, uint32_t group, uint32_t *chain) {
    size_t depth = 0;
    for (uint32_t at = group; at != RBD_TOP_GROUP && depth < kMaxDepth;
         at = model.groups[at].parent) {
        chain[depth++] = at;
    }
    std::reverse(chain, chain + depth);
    return depth;
}

// The place of `member` among the members of `group`.
size_t PlaceIn(const RBDWriteModel &model, uint32_t group, uint32_t member) {
    const std::vector<uint32_t> &members = model.groups[group].members;
    return static_cast<size_t>(std::find(members.begin(), members.end(), member) - members.begin());
}

} // namespace

void RBD_GroupPathOf(const RBDWriteModel &model, uint32_t group, RBDGroupPath &path) {
    uint32_t chain[kMaxDepth];
    size_t depth = ChainOf(model, group, chain);
    path.normal_length = 0;
    path.spelled_length = 0;
    path.safe = true;
    for (size_t i = 0; i < depth; ++i) {
        size_t length = 0;
        const char *name = RBD_RecordName(model.groups[chain[i]].record, &length);
        path.spelled_length += length + 1;
        char kept[RBD_NAME_FIELD];
        std::memcpy(kept, name, length);
        kept[length] = '\0';
        path.safe = path.safe && IsSafeName(kept);
        if (length > 0 && path.normal_length + length + 1 <= RBD_MAX_PATH) {
            std::memcpy(path.normal + path.normal_length, name, length);
            path.normal_length += length;
            path.normal[path.normal_length++] = '/';
        }
    }
    path.normal[path.normal_length] = '\0';
}

size_t RBD_EntryNameOf(const RBDWriteModel &model, uint32_t entry, char *name) {
    RBDRecordBytes record;
    size_t length = 0;
    if (RBD_EntryRecord(model, entry, record)) {
        const char *own = RBD_RecordName(record, &length);
        std::memcpy(name, own, length);
    }
    name[length] = '\0';
    return length;
}

size_t RBD_EntryPathOf(const RBDWriteModel &model, uint32_t entry, char *out) {
    RBDGroupPath group;
    RBD_GroupPathOf(model, model.entries[entry].group, group);
    std::memcpy(out, group.normal, group.normal_length);
    return group.normal_length + RBD_EntryNameOf(model, entry, out + group.normal_length);
}

bool RBD_NameIsUnsafe(const char *name, size_t length, const RBDGroupPath &group) {
    return !group.safe || length == 0 || !IsSafeName(name) ||
           !RBD_OutputLengthFits(0, group.spelled_length, length);
}

bool RBD_GroupBefore(const RBDWriteModel &model, uint32_t a, uint32_t b) {
    uint32_t chain_a[kMaxDepth];
    uint32_t chain_b[kMaxDepth];
    size_t depth_a = ChainOf(model, a, chain_a);
    size_t depth_b = ChainOf(model, b, chain_b);
    size_t common = 0;
    while (common < depth_a && common < depth_b && chain_a[common] == chain_b[common]) {
        ++common;
    }
    if (common == depth_a || common == depth_b) {
        // One holds the other, and a group comes before what it holds.
        return depth_a < depth_b;
    }
    uint32_t parent = common == 0 ? RBD_TOP_GROUP : chain_a[common - 1];
    return PlaceIn(model, parent, chain_a[common]) < PlaceIn(model, parent, chain_b[common]);
}

bool RBD_EntryBefore(const RBDWriteModel &model, uint32_t a, uint32_t b) {
    uint32_t group_a = model.entries[a].group;
    uint32_t group_b = model.entries[b].group;
    if (group_a != group_b) {
        return RBD_GroupBefore(model, group_a, group_b);
    }
    return PlaceIn(model, group_a, a) < PlaceIn(model, group_a, b);
}

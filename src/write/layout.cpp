#include "layout.h"

#include "model_lookup.h"

#include <algorithm>

namespace {

// A group being gone through, and the next of its members. (cppcheck sees
// no use of members that are only set by braces.)
struct Frame {
    // cppcheck-suppress unusedStructMember
    uint32_t group;
    // cppcheck-suppress unusedStructMember
    size_t next;
};

bool IsLive(const RBDWriteModel &model, uint32_t entry) {
    return !model.entries[entry].removed;
}

// Each group's count and whether it is written, every group after what it
// holds, without recursion.
void CountGroups(const RBDWriteModel &model, std::vector<uint32_t> &counts,
                 std::vector<bool> &written) {
    counts.assign(model.groups.size(), 0);
    written.assign(model.groups.size(), false);
    std::vector<Frame> stack{{RBD_TOP_GROUP, 0}};
    while (!stack.empty()) {
        const RBDWriteGroup &group = model.groups[stack.back().group];
        if (group.kind == RBD_KIND_DIRECTORY && stack.back().next < group.members.size()) {
            uint32_t child = group.members[stack.back().next++];
            stack.push_back(Frame{child, 0});
            continue;
        }
        uint32_t count = 0;
        for (uint32_t member : group.members) {
            count += group.kind == RBD_KIND_FILES ? IsLive(model, member) : written[member];
        }
        uint32_t id = stack.back().group;
        counts[id] = count;
        written[id] = group.kind == RBD_KIND_OTHER || count > 0 || group.empty_in_base;
        stack.pop_back();
    }
}

// The records written, in index order.
void ListRecords(const RBDWriteModel &model, const std::vector<bool> &written, RBDLayout &layout) {
    std::vector<Frame> stack{{RBD_TOP_GROUP, 0}};
    while (!stack.empty()) {
        const RBDWriteGroup &group = model.groups[stack.back().group];
        if (stack.back().next == group.members.size()) {
            stack.pop_back();
            continue;
        }
        uint32_t member = group.members[stack.back().next++];
        if (group.kind == RBD_KIND_FILES) {
            if (IsLive(model, member)) {
                layout.order.push_back(member);
            }
            continue;
        }
        if (written[member]) {
            layout.order.push_back(member | RBD_GROUP_BIT);
            ++layout.groups;
            stack.push_back(Frame{member, 0});
        }
    }
    layout.records = static_cast<uint32_t>(layout.order.size());
}

// Bytes of the base that one or more entries cover, overlapping ranges
// joined: written once, where the first of its entries comes.
struct Cluster {
    uint64_t start;
    uint64_t end;
    uint64_t placed; // UINT64_MAX until placed
};

struct BaseRange {
    uint32_t start;
    uint32_t size;
    uint32_t place; // among the base's entries written, in order
};

bool FromBase(const RBDWriteEntry &entry) {
    return entry.source == RBD_DATA_BASE && entry.size > 0;
}

// True when the base's data of the entries written comes in index order, no
// two sharing a byte (as rbdpack writes it): each entry's bytes then go
// where the next data goes, and nothing need be kept to lay them out.
bool InIndexOrder(const RBDWriteModel &model, const RBDLayout &layout) {
    uint64_t end = 0;
    for (uint32_t item : layout.order) {
        const RBDWriteEntry *entry = (item & RBD_GROUP_BIT) == 0 ? &model.entries[item] : nullptr;
        if (entry != nullptr && FromBase(*entry)) {
            if (entry->offset < end) {
                return false;
            }
            end = uint64_t{entry->offset} + entry->size;
        }
    }
    return true;
}

// The clusters of the base's bytes that the written entries use, and each
// such entry's cluster, by its place among them; none when the data comes in
// index order.
void FindClusters(const RBDWriteModel &model, const RBDLayout &layout,
                  std::vector<Cluster> &clusters, std::vector<uint32_t> &cluster_of) {
    if (InIndexOrder(model, layout)) {
        return;
    }
    std::vector<BaseRange> ranges;
    for (uint32_t item : layout.order) {
        if ((item & RBD_GROUP_BIT) == 0 && FromBase(model.entries[item])) {
            const RBDWriteEntry &entry = model.entries[item];
            ranges.push_back(
                BaseRange{entry.offset, entry.size, static_cast<uint32_t>(ranges.size())});
        }
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const BaseRange &a, const BaseRange &b) { return a.start < b.start; });
    cluster_of.assign(ranges.size(), 0);
    for (const BaseRange &range : ranges) {
        uint64_t end = uint64_t{range.start} + range.size;
        // Ranges that share a byte share a cluster; ranges that only touch don't.
        if (clusters.empty() || range.start >= clusters.back().end) {
            clusters.push_back(Cluster{range.start, end, UINT64_MAX});
        } else if (end > clusters.back().end) {
            clusters.back().end = end;
        }
        cluster_of[range.place] = static_cast<uint32_t>(clusters.size() - 1);
    }
}

void AddPiece(RBDLayout &layout, const RBDPiece &piece) {
    if (!layout.pieces.empty()) {
        RBDPiece &last = layout.pieces.back();
        if (last.source == piece.source && piece.source != RBD_DATA_FILE &&
            last.offset + last.size == piece.offset) {
            last.size += piece.size;
            return;
        }
    }
    layout.pieces.push_back(piece);
}

// Where the base's bytes of an entry go: after the data so far, or where the
// cluster they belong to went.
uint64_t PlaceBaseData(const RBDWriteEntry &entry, uint32_t id, uint32_t place,
                       std::vector<Cluster> &clusters, const std::vector<uint32_t> &cluster_of,
                       RBDLayout &layout, uint64_t &next) {
    if (clusters.empty()) {
        AddPiece(layout, RBDPiece{RBD_DATA_BASE, id, entry.offset, entry.size});
        next += entry.size;
        return next - entry.size;
    }
    Cluster &cluster = clusters[cluster_of[place]];
    if (cluster.placed == UINT64_MAX) {
        cluster.placed = next;
        AddPiece(layout, RBDPiece{RBD_DATA_BASE, id, cluster.start, cluster.end - cluster.start});
        next += cluster.end - cluster.start;
    }
    return cluster.placed + (entry.offset - cluster.start);
}

// Where the entry's data goes, `next` being the end of the data so far and
// `place` the number of base entries with data before it.
uint64_t PlaceData(const RBDWriteModel &model, uint32_t id, uint32_t &place,
                   std::vector<Cluster> &clusters, const std::vector<uint32_t> &cluster_of,
                   RBDLayout &layout, uint64_t &next) {
    const RBDWriteEntry &entry = model.entries[id];
    if (FromBase(entry)) {
        return PlaceBaseData(entry, id, place++, clusters, cluster_of, layout, next);
    }
    uint64_t at = next;
    if ((entry.source == RBD_DATA_SPOOL || entry.source == RBD_DATA_FILE) && entry.size > 0) {
        const RBDWriteData &data = model.data[entry.data];
        uint64_t offset = entry.source == RBD_DATA_SPOOL ? data.at : 0;
        AddPiece(layout, RBDPiece{entry.source, id, offset, entry.size});
        next += entry.size;
    }
    return at;
}

} // namespace

void RBD_LayOut(const RBDWriteModel &model, RBDLayout &layout) {
    layout = RBDLayout{};
    layout.beyond_entry = RBD_NONE;
    std::vector<bool> written;
    CountGroups(model, layout.counts, written);
    ListRecords(model, written, layout);
    std::vector<Cluster> clusters;
    std::vector<uint32_t> cluster_of;
    FindClusters(model, layout, clusters, cluster_of);
    uint64_t next = RBD_RecordOffset(layout.records);
    layout.offsets.reserve(layout.records - layout.groups);
    uint32_t place = 0;
    for (uint32_t item : layout.order) {
        if ((item & RBD_GROUP_BIT) != 0) {
            continue;
        }
        uint64_t at = PlaceData(model, item, place, clusters, cluster_of, layout, next);
        if (at > UINT32_MAX && layout.beyond_entry == RBD_NONE) {
            layout.beyond_entry = item;
            layout.beyond_offset = at;
        }
        layout.offsets.push_back(static_cast<uint32_t>(at));
    }
    layout.size = next;
}

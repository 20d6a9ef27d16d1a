#include "edits.h"

#include "../extract/entry_data.h"
#include "model_lookup.h"
#include "model_paths.h"

#include <cstring>
#include <vector>

namespace {

// Where the name starts: after the last slash (the rules made sure of one).
size_t NameStart(const char *path, size_t length) {
    size_t start = length;
    while (start > 0 && path[start - 1] != '/') {
        --start;
    }
    return start;
}

RBDPathVerdict TooLong(size_t length) {
    return RBDPathVerdict{RBD_PATH_TOO_LONG, 0, length};
}

// The rules a new entry's path must pass, and its place; `ignored` is the
// entry being renamed, which is not in the way of its new path.
RBDPathVerdict CheckNewPath(const RBDWriteModel &model, const char *path, size_t length,
                            int64_t ignored) {
    RBDPathVerdict verdict = RBD_CheckNames(path, length);
    if (verdict.problem == RBD_PATH_FITS) {
        verdict = RBD_CheckClashes(model, path, length, ignored);
    }
    return verdict;
}

// Extraction's limit on the output path, "./ROOT/" + the group path as the
// package spells it + the name.
bool Fits(size_t root_length, size_t spelled_group_length, size_t name_length) {
    return RBD_OutputLengthFits(root_length, spelled_group_length, name_length);
}

uint32_t AddEntry(RBDWriteModel &model, uint32_t group, const RBDWriteEntry &entry) {
    auto id = static_cast<uint32_t>(model.entries.size());
    model.entries.push_back(entry);
    model.entries.back().group = group;
    model.groups[group].members.push_back(id);
    RBD_IndexEntry(model, id);
    return id;
}

} // namespace

RBDPutPlan RBD_PlanPut(const RBDWriteModel &model, const char *path, size_t root_length) {
    RBDPutPlan plan{};
    size_t length = std::strlen(path);
    plan.replaced = RBD_FindEntry(model, path, length);
    if (plan.replaced != RBD_NONE) {
        return plan;
    }
    plan.verdict = CheckNewPath(model, path, length, RBD_NONE);
    if (plan.verdict.problem != RBD_PATH_FITS) {
        return plan;
    }
    size_t name_start = NameStart(path, length);
    plan.placement = RBD_PlanPlacement(model, path, name_start);
    if (!Fits(root_length, plan.placement.spelled_length, length - name_start)) {
        plan.verdict = TooLong(length);
    }
    return plan;
}

void RBD_ApplyPut(RBDWriteModel &model, const char *path, const RBDPutPlan &plan,
                  RBDDataSource source, uint32_t data, uint32_t size) {
    if (source == RBD_DATA_FILE) {
        ++model.held_files;
    }
    if (plan.replaced != RBD_NONE) {
        RBDWriteEntry &entry = model.entries[static_cast<size_t>(plan.replaced)];
        RBD_ReleaseData(model, entry);
        entry.source = source;
        entry.data = data;
        entry.size = size;
        return;
    }
    size_t length = std::strlen(path);
    size_t name_start = NameStart(path, length);
    uint32_t group = RBD_ApplyPlacement(model, path, name_start, plan.placement);
    RBDWriteEntry entry{};
    RBD_KeepRecord(model, entry, RBD_NewFileRecord(size, path + name_start, length - name_start));
    entry.source = source;
    entry.data = data;
    entry.size = size;
    ++model.live_entries;
    AddEntry(model, group, entry);
}

size_t RBD_RemovePath(RBDWriteModel &model, const char *path) {
    std::vector<uint32_t> found;
    RBD_EntriesAt(model, path, std::strlen(path), found);
    for (uint32_t id : found) {
        RBDWriteEntry &entry = model.entries[id];
        RBD_ReleaseData(model, entry);
        entry.removed = true;
        --model.live_entries;
    }
    return found.size();
}

RBDRenamePlan RBD_PlanRename(const RBDWriteModel &model, const char *from, const char *to,
                             size_t root_length) {
    RBDRenamePlan plan{};
    plan.entry = RBD_FindEntry(model, from, std::strlen(from));
    size_t length = std::strlen(to);
    if (plan.entry == RBD_NONE) {
        plan.problem = RBD_RENAME_NOT_FOUND;
        return plan;
    }
    if (RBD_FindEntry(model, to, length) != RBD_NONE) {
        plan.problem = RBD_RENAME_EXISTS;
        return plan;
    }
    if (!RBD_EntryRecord(model, static_cast<uint32_t>(plan.entry), plan.record)) {
        plan.problem = RBD_RENAME_UNREADABLE;
        return plan;
    }
    plan.verdict = CheckNewPath(model, to, length, plan.entry);
    if (plan.verdict.problem != RBD_PATH_FITS) {
        plan.problem = RBD_RENAME_PATH;
        return plan;
    }
    size_t name_start = NameStart(to, length);
    RBDGroupPath group;
    RBD_GroupPathOf(model, model.entries[static_cast<size_t>(plan.entry)].group, group);
    plan.in_place =
        group.normal_length == name_start && std::memcmp(group.normal, to, name_start) == 0;
    size_t spelled = group.spelled_length;
    if (!plan.in_place) {
        plan.placement = RBD_PlanPlacement(model, to, name_start);
        spelled = plan.placement.spelled_length;
    }
    if (!Fits(root_length, spelled, length - name_start)) {
        plan.problem = RBD_RENAME_PATH;
        plan.verdict = TooLong(length);
    }
    return plan;
}

void RBD_ApplyRename(RBDWriteModel &model, const char *to, const RBDRenamePlan &plan) {
    auto id = static_cast<uint32_t>(plan.entry);
    size_t length = std::strlen(to);
    size_t name_start = NameStart(to, length);
    // The same record, flags and all, under its new name.
    RBDRecordBytes record = plan.record;
    RBD_SetRecordName(record, to + name_start, length - name_start);
    if (plan.in_place) {
        RBD_KeepRecord(model, model.entries[id], record);
        RBD_IndexEntry(model, id);
        return;
    }
    uint32_t group = RBD_ApplyPlacement(model, to, name_start, plan.placement);
    RBDWriteEntry moved = model.entries[id];
    RBD_KeepRecord(model, moved, record);
    model.entries[id].removed = true;
    model.entries[id].source = RBD_DATA_GONE;
    AddEntry(model, group, moved);
}

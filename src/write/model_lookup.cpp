#include "model_lookup.h"

#include "model_paths.h"
#include "record_window.h"

#include <cstring>

namespace {

bool SameText(const char *a, size_t a_length, const char *b, size_t b_length) {
    return a_length == b_length && std::memcmp(a, b, a_length) == 0;
}

bool EntryHasPath(const RBDWriteModel &model, uint32_t entry, const char *path, size_t length) {
    if (model.entries[entry].removed) {
        return false;
    }
    char own[RBD_ENTRY_PATH_MAX + 1];
    size_t own_length = RBD_EntryPathOf(model, entry, own);
    return SameText(own, own_length, path, length);
}

bool GroupHasPath(const RBDWriteModel &model, uint32_t group, const char *path, size_t length) {
    RBDGroupPath own;
    RBD_GroupPathOf(model, group, own);
    return SameText(own.normal, own.normal_length, path, length);
}

// Whether the entry is refused by extraction, which its group decides in part.
bool IsUnsafe(const RBDWriteModel &model, uint32_t entry) {
    RBDGroupPath group;
    RBD_GroupPathOf(model, model.entries[entry].group, group);
    char name[RBD_NAME_FIELD];
    size_t length = RBD_EntryNameOf(model, entry, name);
    return RBD_NameIsUnsafe(name, length, group);
}

// An earlier safe entry of a path stays what extraction leaves when an
// unsafe one follows: the later wins only when it is safe or the earlier
// is not.
bool Outranks(const RBDWriteModel &model, uint32_t later, uint32_t earlier) {
    return !IsUnsafe(model, later) || IsUnsafe(model, earlier);
}

// The table built anew for twice what it must hold now, from the numbers in
// use and their paths as they are now. The base's records are read in
// order, a window of them at a time.
void RebuildEntries(RBDWriteModel &model) {
    RBD_ResetTable(model.entry_paths, size_t{model.live_entries} + 1);
    RBDRecordWindow window;
    RBD_StartWindow(window, model.base_fd);
    for (uint32_t entry = 0; entry < model.entries.size(); ++entry) {
        const RBDWriteEntry &at = model.entries[entry];
        if (at.removed) {
            continue;
        }
        RBDGroupPath group;
        RBD_GroupPathOf(model, at.group, group);
        const RBDRecordBytes *record = RBD_WindowRecord(window, model, entry);
        size_t length = 0;
        const char *name = record != nullptr ? RBD_RecordName(*record, &length) : "";
        char path[RBD_ENTRY_PATH_MAX + 1];
        std::memcpy(path, group.normal, group.normal_length);
        std::memcpy(path + group.normal_length, name, length);
        RBD_TableAdd(model.entry_paths,
                     RBD_HashPath(model.entry_paths, path, group.normal_length + length), entry);
    }
}

void RebuildGroups(RBDWriteModel &model) {
    RBD_ResetTable(model.group_paths, model.groups.size());
    for (uint32_t group = 1; group < model.groups.size(); ++group) {
        RBDGroupPath path;
        RBD_GroupPathOf(model, group, path);
        RBD_TableAdd(model.group_paths,
                     RBD_HashPath(model.group_paths, path.normal, path.normal_length), group);
    }
}

// A group that is written whatever its members: one the base had empty, or
// of a kind reading does not know.
bool KeptEmpty(const RBDWriteGroup &group) {
    return group.empty_in_base || group.kind == RBD_KIND_OTHER;
}

// True when the group holds an entry not removed, at any depth, or a group
// that is kept empty. The groups below are visited without recursion.
bool HoldsSomething(const RBDWriteModel &model, uint32_t group) {
    std::vector<uint32_t> pending{group};
    while (!pending.empty()) {
        const RBDWriteGroup &at = model.groups[pending.back()];
        pending.pop_back();
        if (KeptEmpty(at)) {
            return true;
        }
        for (uint32_t member : at.members) {
            if (at.kind == RBD_KIND_FILES && !model.entries[member].removed) {
                return true;
            }
            if (at.kind == RBD_KIND_DIRECTORY) {
                pending.push_back(member);
            }
        }
    }
    return false;
}

} // namespace

int64_t RBD_FindEntry(const RBDWriteModel &model, const char *path, size_t length) {
    int64_t best = RBD_NONE;
    RBDTableCursor cursor =
        RBD_TableFirst(model.entry_paths, RBD_HashPath(model.entry_paths, path, length));
    for (uint32_t entry = 0; RBD_TableNext(model.entry_paths, cursor, &entry);) {
        if (!EntryHasPath(model, entry, path, length) || entry == best) {
            continue;
        }
        if (best == RBD_NONE) {
            best = entry;
            continue;
        }
        auto other = static_cast<uint32_t>(best);
        bool later = RBD_EntryBefore(model, other, entry);
        uint32_t first = later ? other : entry;
        uint32_t second = later ? entry : other;
        best = Outranks(model, second, first) ? second : first;
    }
    return best;
}

void RBD_EntriesAt(const RBDWriteModel &model, const char *path, size_t length,
                   std::vector<uint32_t> &found) {
    found.clear();
    RBDTableCursor cursor =
        RBD_TableFirst(model.entry_paths, RBD_HashPath(model.entry_paths, path, length));
    for (uint32_t entry = 0; RBD_TableNext(model.entry_paths, cursor, &entry);) {
        bool seen = false;
        for (uint32_t earlier : found) {
            seen = seen || earlier == entry;
        }
        if (!seen && EntryHasPath(model, entry, path, length)) {
            found.push_back(entry);
        }
    }
}

int64_t RBD_FindGroup(const RBDWriteModel &model, const char *path, size_t length,
                      RBDGroupKind kind) {
    int64_t last = RBD_NONE;
    RBDTableCursor cursor =
        RBD_TableFirst(model.group_paths, RBD_HashPath(model.group_paths, path, length));
    for (uint32_t group = 0; RBD_TableNext(model.group_paths, cursor, &group);) {
        if (model.groups[group].kind != kind || !GroupHasPath(model, group, path, length)) {
            continue;
        }
        if (last == RBD_NONE || RBD_GroupBefore(model, static_cast<uint32_t>(last), group)) {
            last = group;
        }
    }
    return last;
}

bool RBD_GroupPathIsTaken(const RBDWriteModel &model, const char *path, size_t length) {
    RBDTableCursor cursor =
        RBD_TableFirst(model.group_paths, RBD_HashPath(model.group_paths, path, length));
    for (uint32_t group = 0; RBD_TableNext(model.group_paths, cursor, &group);) {
        if (GroupHasPath(model, group, path, length) && HoldsSomething(model, group)) {
            return true;
        }
    }
    return false;
}

void RBD_IndexAll(RBDWriteModel &model) {
    RebuildEntries(model);
    RebuildGroups(model);
}

void RBD_IndexGroups(RBDWriteModel &model) {
    RebuildGroups(model);
}

void RBD_IndexEntry(RBDWriteModel &model, uint32_t entry) {
    if (RBD_TableWantsRoom(model.entry_paths)) {
        RebuildEntries(model);
        return; // the rebuild took the entry in with the others
    }
    char path[RBD_ENTRY_PATH_MAX + 1];
    size_t length = RBD_EntryPathOf(model, entry, path);
    RBD_TableAdd(model.entry_paths, RBD_HashPath(model.entry_paths, path, length), entry);
}

void RBD_IndexGroup(RBDWriteModel &model, uint32_t group) {
    if (RBD_TableWantsRoom(model.group_paths)) {
        RebuildGroups(model);
        return;
    }
    RBDGroupPath path;
    RBD_GroupPathOf(model, group, path);
    RBD_TableAdd(model.group_paths,
                 RBD_HashPath(model.group_paths, path.normal, path.normal_length), group);
}

#include "load_base.h"

#include "../extract/entry_data.h"
#include "../hostkit/hostkit.h"
#include "../package/walk.h"
#include "model_lookup.h"

#include <cstring>
#include <string>

namespace {

struct Loading {
    RBDWriteModel &model;
    int fd;
    std::vector<uint32_t> open_groups; // directory groups still being read, outermost first
    uint32_t table_group;              // the file group whose entries come
    int os_error;
};

// The bytes of a group record, which the walk has just read whole: only a
// read failure or a file changed under us stops them.
bool ReadRecord(Loading &loading, uint32_t record, RBDRecordBytes &into) {
    int64_t got = hkReadAt(loading.fd, RBD_RecordOffset(record), into.bytes, RBD_RECORD_SIZE);
    if (got < 0) {
        loading.os_error = hkErrorCode();
    }
    return got == static_cast<int64_t>(RBD_RECORD_SIZE);
}

bool AddGroup(Loading &loading, const RBDWalkEvent &event) {
    RBDWriteModel &model = loading.model;
    RBDWriteGroup group{};
    if (!ReadRecord(loading, event.record, group.record)) {
        return false;
    }
    loading.open_groups.resize(event.depth);
    group.parent = event.depth == 0 ? RBD_TOP_GROUP : loading.open_groups[event.depth - 1];
    group.kind = RBD_KindOf(group.record);
    group.empty_in_base = RBD_GetBig32(group.record.bytes + RBD_GROUP_COUNT_AT) == 0;
    auto id = static_cast<uint32_t>(model.groups.size());
    model.groups.push_back(std::move(group));
    model.groups[model.groups.back().parent].members.push_back(id);
    if (model.groups.back().kind == RBD_KIND_DIRECTORY) {
        loading.open_groups.push_back(id);
    }
    return true;
}

// An entry as the walk read it; its record stays in the base's file. Its
// path goes in the table at once, from the walk's own text.
void AddEntry(Loading &loading, const RBDWalkEvent &event) {
    RBDWriteModel &model = loading.model;
    const RBDFileHeader &file = *event.files;
    RBDWriteEntry entry{};
    entry.record = event.record;
    entry.group = loading.table_group;
    entry.size = file.size;
    entry.offset = file.offset;
    entry.source = RBD_DATA_BASE;
    if (!RBD_DataInPackage(file.offset, file.size, model.base_size)) {
        // Extraction leaves such an entry empty; so does the package written.
        entry.source = RBD_DATA_MISSING;
        entry.size = 0;
        ++model.missing_entries;
    }
    auto id = static_cast<uint32_t>(model.entries.size());
    model.entries.push_back(entry);
    model.groups[entry.group].members.push_back(id);
    ++model.live_entries;
    std::string path = std::string(event.normal_group_path) + file.name;
    RBD_TableAdd(model.entry_paths, RBD_HashPath(model.entry_paths, path.data(), path.size()), id);
}

// Walks the index into the model; false when a read failed.
bool WalkIndex(Loading &loading) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, loading.fd)) {
        loading.os_error = walk.error.os_error;
        return false;
    }
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        switch (event.kind) {
        case RBD_EVENT_GROUP:
            if (!AddGroup(loading, event)) {
                return false;
            }
            break;
        case RBD_EVENT_FILE_TABLE:
            loading.table_group = static_cast<uint32_t>(loading.model.groups.size() - 1);
            break;
        case RBD_EVENT_ENTRY:
            AddEntry(loading, event);
            break;
        case RBD_EVENT_END_OF_INDEX:
            break;
        case RBD_EVENT_DONE:
        case RBD_EVENT_FAILED:
            // Damage ends what a partial open keeps; a failed read is told.
            loading.os_error = walk.error.os_error;
            loading.model.base_records = walk.next_record;
            return walk.error.os_error == 0;
        }
    }
}

} // namespace

RBDLoadResult RBD_LoadBase(RBDWriteModel &model, int fd, uint64_t size, uint32_t entries,
                           int *os_error) {
    model.base_fd = fd;
    model.base_size = size;
    model.entries.reserve(entries);
    RBD_ResetTable(model.entry_paths, entries);
    Loading loading{model, fd, {}, 0, 0};
    *os_error = 0;
    int64_t got = hkReadAt(fd, 0, model.header, RBD_HEADER_SIZE);
    if (got != static_cast<int64_t>(RBD_HEADER_SIZE)) {
        *os_error = got < 0 ? hkErrorCode() : 0;
        return got < 0 ? RBD_LOAD_READ_FAILED : RBD_LOAD_CHANGED;
    }
    if (!WalkIndex(loading)) {
        *os_error = loading.os_error;
        return loading.os_error != 0 ? RBD_LOAD_READ_FAILED : RBD_LOAD_CHANGED;
    }
    if (model.entries.size() != entries) {
        return RBD_LOAD_CHANGED;
    }
    RBD_IndexGroups(model);
    return RBD_LOAD_DONE;
}

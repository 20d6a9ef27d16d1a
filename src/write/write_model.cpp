#include "write_model.h"

#include "../hostkit/hostkit.h"
#include "model_lookup.h"

void RBD_StartModel(RBDWriteModel &model) {
    RBD_NewHeader(model.header);
    model.groups.assign(1, RBDWriteGroup{});
    model.groups[RBD_TOP_GROUP].kind = RBD_KIND_DIRECTORY;
    model.groups[RBD_TOP_GROUP].parent = RBD_TOP_GROUP;
    model.entries.clear();
    model.made.clear();
    model.data.clear();
    model.base_records = 0;
    model.base_size = 0;
    model.base_fd = -1;
    model.live_entries = 0;
    model.missing_entries = 0;
    model.held_files = 0;
    RBD_IndexAll(model);
}

RBDGroupKind RBD_KindOf(const RBDRecordBytes &record) {
    uint32_t flags = RBD_GetBig32(record.bytes + RBD_GROUP_FLAGS_AT);
    if (flags == RBD_DIRECTORY_GROUP) {
        return RBD_KIND_DIRECTORY;
    }
    return flags == RBD_FILE_GROUP ? RBD_KIND_FILES : RBD_KIND_OTHER;
}

void RBD_ReleaseData(RBDWriteModel &model, RBDWriteEntry &entry) {
    if (entry.source == RBD_DATA_FILE) {
        RBDWriteData &data = model.data[entry.data];
        hkCloseFile(static_cast<int>(data.at));
        data = RBDWriteData{0, 0};
        --model.held_files;
    } else if (entry.source == RBD_DATA_MISSING) {
        --model.missing_entries;
    }
    entry.source = RBD_DATA_GONE;
}

void RBD_ReleaseAllData(RBDWriteModel &model) {
    for (RBDWriteEntry &entry : model.entries) {
        if (entry.source == RBD_DATA_FILE) {
            RBD_ReleaseData(model, entry);
        }
    }
}

bool RBD_EntryRecord(const RBDWriteModel &model, uint32_t entry, RBDRecordBytes &record) {
    uint32_t place = model.entries[entry].record;
    if ((place & RBD_MADE_RECORD) != 0) {
        record = model.made[place & ~RBD_MADE_RECORD];
        return true;
    }
    return hkReadAt(model.base_fd, RBD_RecordOffset(place), record.bytes, RBD_RECORD_SIZE) ==
           static_cast<int64_t>(RBD_RECORD_SIZE);
}

void RBD_KeepRecord(RBDWriteModel &model, RBDWriteEntry &entry, const RBDRecordBytes &record) {
    if ((entry.record & RBD_MADE_RECORD) != 0) {
        model.made[entry.record & ~RBD_MADE_RECORD] = record;
        return;
    }
    model.made.push_back(record);
    entry.record = RBD_MADE_RECORD | static_cast<uint32_t>(model.made.size() - 1);
}

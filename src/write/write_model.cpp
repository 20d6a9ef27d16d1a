#include "write_model.h"

#include "../hostkit/hostkit.h"
#include "model_lookup.h"

void RBD_StartModel(RBDWriteModel &model) {
    RBD_NewHeader(model.header);
    model.groups.assign(1, RBDWriteGroup{});
    model.groups[RBD_TOP_GROUP].kind = RBD_KIND_DIRECTORY;
    model.groups[RBD_TOP_GROUP].parent = RBD_TOP_GROUP;
    model.entries.clear();
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

#include "record_window.h"

#include "../hostkit/hostkit.h"

namespace {

// 64 KiB of records a read.
const uint32_t kWindowRecords = (64 << 10) / RBD_RECORD_SIZE;

} // namespace

void RBD_StartWindow(RBDRecordWindow &window, int base_fd) {
    window.fd = base_fd;
    window.first = 0;
    window.records.clear();
}

const RBDRecordBytes *RBD_WindowRecord(RBDRecordWindow &window, const RBDWriteModel &model,
                                       uint32_t entry) {
    uint32_t record = model.entries[entry].record;
    if ((record & RBD_MADE_RECORD) != 0) {
        window.own = model.made[record & ~RBD_MADE_RECORD];
        return &window.own;
    }
    if (record < window.first || record - window.first >= window.records.size()) {
        // Never past what the base's walk read: the records after it are data.
        uint32_t count = model.base_records - record < kWindowRecords ? model.base_records - record
                                                                      : kWindowRecords;
        window.records.resize(count);
        window.first = record;
        uint64_t bytes = uint64_t{count} * RBD_RECORD_SIZE;
        uint64_t at = RBD_RecordOffset(record);
        if (count == 0 ||
            hkReadAt(window.fd, at, window.records.data(), bytes) != static_cast<int64_t>(bytes)) {
            window.records.clear();
            return nullptr;
        }
    }
    return &window.records[record - window.first];
}

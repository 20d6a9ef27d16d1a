// The base's entry records read a window at a time, for the passes that
// meet them in index order (rebuilding the table of paths, writing the
// index): one read per few hundred records rather than one per record.
#pragma once

#include "write_model.h"

#include <cstdint>
#include <vector>

struct RBDRecordWindow {
    int fd;
    uint32_t first;                      // the base record number of records[0]
    std::vector<RBDRecordBytes> records; // what the last read gave
    RBDRecordBytes own;                  // an entry's record kept in the model
};

void RBD_StartWindow(RBDRecordWindow &window, int base_fd);

// The record of `entry` (see RBD_EntryRecord); valid until the next call.
// Null when the base's file could not be read.
const RBDRecordBytes *RBD_WindowRecord(RBDRecordWindow &window, const RBDWriteModel &model,
                                       uint32_t entry);

// The package being written: the base's index records in their tree, with
// what edits made of them. A record nothing touched is written back byte for
// byte from the base's file (but its data offset, when its data moves, and
// its size, when its data changes); a count is rewritten only when what it
// counts changed.
//
// Memory follows the index, and less: group records are kept raw, but an
// entry's record stays in the base's file (which commit checks is unchanged)
// until an edit renames it; only records made or renamed here are kept, in
// `made`. Groups and entries are numbered by their place in `groups` and
// `entries`, which only grow: a removed entry stays, marked, so that numbers
// never change; the base's entries come first, in index order. Group 0 is
// the top level, which has no record.
#pragma once

#include "path_table.h"
#include "record_bytes.h"

#include <cstdint>
#include <vector>

const uint32_t RBD_TOP_GROUP = 0;

enum RBDGroupKind : uint8_t {
    RBD_KIND_DIRECTORY, // holds groups
    RBD_KIND_FILES,     // holds file records
    RBD_KIND_OTHER,     // of a kind reading does not know: holds nothing
};

struct RBDWriteGroup {
    RBDRecordBytes record;
    uint32_t parent;               // the group that holds it; RBD_TOP_GROUP at top level
    std::vector<uint32_t> members; // child groups, or entries, in index order
    RBDGroupKind kind;
    // Its count in the base was 0: kept when it is empty, as the base had
    // it. Any other group that ends up empty is dropped.
    bool empty_in_base;
};

// Where an entry's bytes come from at commit.
enum RBDDataSource : uint8_t {
    RBD_DATA_BASE,    // the base's bytes at the record's offset and size
    RBD_DATA_SPOOL,   // the writer's spool: RBDWriteData::at
    RBD_DATA_FILE,    // a caller's file held open: RBDWriteData::at is its descriptor
    RBD_DATA_MISSING, // past the base's end: written with size 0
    RBD_DATA_GONE,    // given back: the entry was removed, or gets new data
};

// In RBDWriteEntry::record: the rest is a place in RBDWriteModel::made;
// without it, the number of the base's record.
const uint32_t RBD_MADE_RECORD = 0x80000000u;

struct RBDWriteEntry {
    uint32_t record; // the base's record number, or RBD_MADE_RECORD | place in `made`
    uint32_t group;  // its file group
    uint32_t data;   // SPOOL, FILE: its place in RBDWriteModel::data
    uint32_t size;   // its data's size as written (its record's is not used)
    uint32_t offset; // BASE: where its data lies in the base
    RBDDataSource source;
    bool removed;
};

// Bytes given by the caller: where they are, and how many.
struct RBDWriteData {
    uint64_t at;   // the spool offset, or the descriptor
    uint64_t size; // bytes
};

struct RBDWriteModel {
    unsigned char header[RBD_HEADER_SIZE];
    std::vector<RBDWriteGroup> groups; // [0] is the top level
    std::vector<RBDWriteEntry> entries;
    std::vector<RBDRecordBytes> made; // entry records made or renamed here
    std::vector<RBDWriteData> data;
    RBDPathTable entry_paths; // every entry by its normal path
    RBDPathTable group_paths; // every group by its normal group path ("a/b/")
    uint32_t base_records;    // index records the base's walk read; 0 without a base
    uint64_t base_size;       // the base's bytes when it was opened
    int base_fd;              // read at explicit offsets only; -1 without a base
    uint32_t live_entries;    // entries not removed
    uint32_t missing_entries; // of them, RBD_DATA_MISSING
    uint32_t held_files;      // descriptors held for RBD_DATA_FILE entries
};

// An empty package: the header of a new one, the top level and nothing in it.
// Throws std::bad_alloc.
void RBD_StartModel(RBDWriteModel &model);

// Gives back what the entry's data holds (a caller's file held open is
// closed) and forgets it, as the entry is removed or given new data.
void RBD_ReleaseData(RBDWriteModel &model, RBDWriteEntry &entry);

// Closes every file held for the entries' data.
void RBD_ReleaseAllData(RBDWriteModel &model);

// The record of `entry` as it will be written but for its size and offset:
// kept here, or read from the base's file. False when that read failed.
bool RBD_EntryRecord(const RBDWriteModel &model, uint32_t entry, RBDRecordBytes &record);

// Gives the entry a record of its own, `record`, kept here.
void RBD_KeepRecord(RBDWriteModel &model, RBDWriteEntry &entry, const RBDRecordBytes &record);

// The kind of a group record's flags.
RBDGroupKind RBD_KindOf(const RBDRecordBytes &record);

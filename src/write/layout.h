// The package as commit writes it: which records, in which order, with
// which counts, and where each entry's data goes.
//  - Records come in the model's order: a group, then what it holds.
//  - A group with nothing left in it is dropped (see RBDWriteGroup); counts
//    are those of what is written.
//  - The data follows the index in index order, with no gap. The base's
//    bytes that several entries share (ranges that overlap) are written
//    once, where the first of them comes, and keep their sharing; an empty
//    entry, and one whose data is missing, lies where the next data would.
//    A package written by rbdpack thus gets back the offsets it had.
#pragma once

#include "write_model.h"

#include <cstdint>
#include <vector>

// In RBDLayout::order, a group's number carries this bit; an entry's does not.
const uint32_t RBD_GROUP_BIT = 0x80000000u;

// Bytes to copy, in the order they go out.
struct RBDPiece {
    RBDDataSource source; // BASE, SPOOL or FILE
    uint32_t entry;       // FILE: the entry whose file it is
    uint64_t offset;      // where they are in their file
    uint64_t size;
};

struct RBDLayout {
    std::vector<uint32_t> order;   // the records written, groups marked
    std::vector<uint32_t> counts;  // by group number: its count as written
    std::vector<uint32_t> offsets; // each entry written, in order: its data's offset
    std::vector<RBDPiece> pieces;  // the data, neighbours joined
    uint32_t records;              // index records written
    uint32_t groups;               // of them, groups
    uint64_t size;                 // bytes of the whole package
    int64_t beyond_entry;          // an entry whose data would start past 4 GiB - 1
    uint64_t beyond_offset;        // and where; RBD_NONE when every offset fits
};

// Lays out the model. Throws std::bad_alloc.
void RBD_LayOut(const RBDWriteModel &model, RBDLayout &layout);

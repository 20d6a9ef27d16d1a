// The bytes of index records and of the header as they lie on disk: the
// fields the writer reads or sets, big-endian, at their offsets in types.h.
// Every other byte of a record (a file record's flags, the unused fields,
// whatever follows a name's zero) is left as it is.
#pragma once

#include "../types.h"

#include <cstddef>
#include <cstdint>

// One index record, raw.
struct RBDRecordBytes {
    unsigned char bytes[RBD_RECORD_SIZE];
};

// The offsets of the fields the writer sets.
const size_t RBD_GROUP_FLAGS_AT = offsetof(RBDGroupHeader, flags);
const size_t RBD_GROUP_COUNT_AT = offsetof(RBDGroupHeader, num_indices);
const size_t RBD_GROUP_FILES_AT = offsetof(RBDGroupHeader, num_files);
const size_t RBD_FILE_SIZE_AT = offsetof(RBDFileHeader, size);
const size_t RBD_FILE_OFFSET_AT = offsetof(RBDFileHeader, offset);
const size_t RBD_HEADER_COUNT_AT = offsetof(RBDHeader, num_indices);
// A name is read up to its first zero, and never past this many bytes (the
// walk cuts a name field without a zero at its last byte).
const size_t RBD_NAME_MAX = RBD_NAME_FIELD - 1;

// Where index record `record` lies in a package: byte 1024 for record 0.
uint64_t RBD_RecordOffset(uint32_t record);

uint32_t RBD_GetBig32(const unsigned char *at);
void RBD_PutBig32(unsigned char *at, uint32_t value);

// The record's name as reading shows it, and its length.
const char *RBD_RecordName(const RBDRecordBytes &record, size_t *length);

// Sets the name field to `name` (at most RBD_NAME_MAX bytes), zero after
// it, and the name's length before it.
void RBD_SetRecordName(RBDRecordBytes &record, const char *name, size_t length);

// A group record as rbdpack writes one: its kind, no count yet, the number
// of files 0, and the name.
RBDRecordBytes RBD_NewGroupRecord(uint32_t kind, const char *name, size_t length);

// A file record as rbdpack writes one: flags 0, the size, no offset yet,
// and the name.
RBDRecordBytes RBD_NewFileRecord(uint32_t size, const char *name, size_t length);

// The header of a new package as rbdpack writes it: version 2, the format's
// comment, every other byte zero; its count is set when the index is known.
void RBD_NewHeader(unsigned char *header);

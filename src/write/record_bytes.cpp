#include "record_bytes.h"

#include <cstring>

uint64_t RBD_RecordOffset(uint32_t record) {
    return RBD_HEADER_SIZE + uint64_t{record} * RBD_RECORD_SIZE;
}

uint32_t RBD_GetBig32(const unsigned char *at) {
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

void RBD_PutBig32(unsigned char *at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
    }
}

const char *RBD_RecordName(const RBDRecordBytes &record, size_t *length) {
    const char *name = reinterpret_cast<const char *>(record.bytes + RBD_NAME_OFFSET);
    *length = strnlen(name, RBD_NAME_MAX);
    return name;
}

void RBD_SetRecordName(RBDRecordBytes &record, const char *name, size_t length) {
    std::memset(record.bytes + RBD_NAME_OFFSET, 0, RBD_NAME_FIELD);
    std::memcpy(record.bytes + RBD_NAME_OFFSET, name, length);
    record.bytes[RBD_NAME_LENGTH_OFFSET] = static_cast<unsigned char>(length);
}

RBDRecordBytes RBD_NewGroupRecord(uint32_t kind, const char *name, size_t length) {
    RBDRecordBytes record{};
    RBD_PutBig32(record.bytes + RBD_GROUP_FLAGS_AT, kind);
    RBD_SetRecordName(record, name, length);
    return record;
}

RBDRecordBytes RBD_NewFileRecord(uint32_t size, const char *name, size_t length) {
    RBDRecordBytes record{};
    RBD_PutBig32(record.bytes + RBD_FILE_SIZE_AT, size);
    RBD_SetRecordName(record, name, length);
    return record;
}

void RBD_NewHeader(unsigned char *header) {
    std::memset(header, 0, RBD_HEADER_SIZE);
    header[offsetof(RBDHeader, version)] = static_cast<unsigned char>(RBD_VERSION >> 8);
    header[offsetof(RBDHeader, version) + 1] = static_cast<unsigned char>(RBD_VERSION & 0xFF);
    std::memcpy(header + RBD_COMMENT_OFFSET, header_msg, sizeof header_msg);
}

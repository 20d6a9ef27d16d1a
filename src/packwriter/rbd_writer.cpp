#include "rbd_writer.h"

#include <cstdio>

const char kRBDComment[] = "Copyright 1998 Reality Bytes, Inc.  All rights reserved.";

namespace {

const size_t kHeaderSize = 1024;
const size_t kRecordSize = 96;
const size_t kCommentOffset = 16;
const size_t kNameOffset = 33;
const size_t kNameField = 63;

void PutBig32(std::string &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }
}

void PutName(std::string &record, const std::string &name) {
    size_t length = name.size() < kNameField ? name.size() : kNameField;
    record[kNameOffset - 1] = static_cast<char>(length);
    record.replace(kNameOffset, length, name, 0, length);
}

} // namespace

std::string EncodeHeader(uint32_t num_indices, uint16_t version, const std::string &comment) {
    std::string header(kHeaderSize, '\0');
    header[0] = static_cast<char>(version >> 8);
    header[1] = static_cast<char>(version & 0xFF);
    PutBig32(header, 4, num_indices);
    size_t room = kHeaderSize - kCommentOffset;
    header.replace(kCommentOffset, comment.size() < room ? comment.size() : room, comment, 0, room);
    return header;
}

std::string EncodeGroupRecord(uint32_t flags, uint32_t num_indices, uint32_t num_files,
                              const std::string &name) {
    std::string record(kRecordSize, '\0');
    PutBig32(record, 0, flags);
    PutBig32(record, 4, num_indices);
    PutBig32(record, 8, num_files);
    PutName(record, name);
    return record;
}

std::string EncodeFileRecord(uint32_t size, uint32_t offset, const std::string &name,
                             uint32_t flags) {
    std::string record(kRecordSize, '\0');
    PutBig32(record, 0, flags);
    PutBig32(record, 4, size);
    PutBig32(record, 8, offset);
    PutName(record, name);
    return record;
}

PackEntry DirectoryGroup(const std::string &name, uint32_t child_groups) {
    PackEntry entry;
    entry.flags = kDirectoryGroup;
    entry.count = child_groups;
    entry.name = name;
    return entry;
}

PackEntry FileGroup(const std::string &name, uint32_t file_records) {
    PackEntry entry;
    entry.flags = kFileGroup;
    entry.count = file_records;
    entry.num_files = file_records;
    entry.name = name;
    return entry;
}

PackEntry FileEntry(const std::string &name, const std::string &data) {
    PackEntry entry;
    entry.is_file = true;
    entry.name = name;
    entry.data = data;
    return entry;
}

std::string BuildPackage(const PackLayout &layout) {
    uint32_t count = layout.header_count.value_or(static_cast<uint32_t>(layout.entries.size()));
    std::string package = EncodeHeader(count, layout.version, layout.comment);
    std::string data;
    size_t data_start = kHeaderSize + kRecordSize * layout.entries.size();
    for (const PackEntry &entry : layout.entries) {
        if (!entry.is_file) {
            package += EncodeGroupRecord(entry.flags, entry.count, entry.num_files, entry.name);
            continue;
        }
        auto offset = static_cast<uint32_t>(data_start + data.size());
        package += EncodeFileRecord(entry.size.value_or(static_cast<uint32_t>(entry.data.size())),
                                    entry.offset.value_or(offset), entry.name, entry.flags);
        data += entry.data;
    }
    return package + data;
}

bool WriteBytes(const std::string &path, const std::string &bytes) {
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

#include "rbd_writer.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>

namespace {

void PutBig32(std::string &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }
}

void PutName(std::string &record, const std::string &name) {
    size_t length = name.size() < RBD_NAME_FIELD ? name.size() : RBD_NAME_FIELD;
    record[RBD_NAME_LENGTH_OFFSET] = static_cast<char>(length);
    record.replace(RBD_NAME_OFFSET, length, name, 0, length);
}

uint64_t EntryLength(const PackEntry &entry) {
    return entry.source.empty() ? entry.data.size() : entry.source_size;
}

// Large enough to keep the copy cheap, small enough never to matter in memory.
const size_t kCopyPiece = size_t{1} << 20;

enum class CopyResult { kCopied, kSourceFailed, kOutputFailed };

// Copies exactly `source_size` bytes of the entry's source file to `out`. A
// file that has grown or shrunk since it was measured would leave the laid-out
// offsets wrong, so that is a failure of the source too, with `error_number`
// 0; any other failure leaves the errno of the failed call there.
CopyResult CopySource(const PackEntry &entry, FILE *out, std::vector<char> &buffer,
                      int &error_number) {
    FILE *in = std::fopen(entry.source.c_str(), "rb");
    if (in == nullptr) {
        error_number = errno;
        return CopyResult::kSourceFailed;
    }
    CopyResult result = CopyResult::kCopied;
    uint64_t left = entry.source_size;
    while (left > 0) {
        size_t piece = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
        if (std::fread(buffer.data(), 1, piece, in) != piece) {
            error_number = std::ferror(in) != 0 ? errno : 0;
            result = CopyResult::kSourceFailed;
            break;
        }
        if (std::fwrite(buffer.data(), 1, piece, out) != piece) {
            error_number = errno;
            result = CopyResult::kOutputFailed;
            break;
        }
        left -= piece;
    }
    if (result == CopyResult::kCopied && std::fgetc(in) != EOF) {
        error_number = 0;
        result = CopyResult::kSourceFailed;
    }
    std::fclose(in);
    return result;
}

// StreamPackage, with the errno of a failed call in `error`.
bool Stream(const PackLayout &layout, FILE *out, std::string &failed_source, int &error) {
    std::string index = EncodeIndex(layout);
    if (std::fwrite(index.data(), 1, index.size(), out) != index.size()) {
        error = errno;
        return false;
    }
    std::vector<char> buffer;
    for (const PackEntry &entry : layout.entries) {
        if (!entry.is_file) {
            continue;
        }
        if (entry.source.empty()) {
            if (std::fwrite(entry.data.data(), 1, entry.data.size(), out) != entry.data.size()) {
                error = errno;
                return false;
            }
            continue;
        }
        if (buffer.empty()) {
            buffer.resize(kCopyPiece);
        }
        CopyResult copied = CopySource(entry, out, buffer, error);
        if (copied != CopyResult::kCopied) {
            if (copied == CopyResult::kSourceFailed) {
                failed_source = entry.source;
            }
            return false;
        }
    }
    if (std::fflush(out) != 0) {
        error = errno;
        return false;
    }
    return true;
}

} // namespace

std::string EncodeHeader(uint32_t num_indices, uint16_t version, const std::string &comment) {
    std::string header(RBD_HEADER_SIZE, '\0');
    header[offsetof(RBDHeader, version)] = static_cast<char>(version >> 8);
    header[offsetof(RBDHeader, version) + 1] = static_cast<char>(version & 0xFF);
    PutBig32(header, offsetof(RBDHeader, num_indices), num_indices);
    size_t room = RBD_HEADER_SIZE - RBD_COMMENT_OFFSET;
    header.replace(RBD_COMMENT_OFFSET, comment.size() < room ? comment.size() : room, comment, 0,
                   room);
    return header;
}

std::string EncodeGroupRecord(uint32_t flags, uint32_t num_indices, uint32_t num_files,
                              const std::string &name) {
    std::string record(RBD_RECORD_SIZE, '\0');
    PutBig32(record, offsetof(RBDGroupHeader, flags), flags);
    PutBig32(record, offsetof(RBDGroupHeader, num_indices), num_indices);
    PutBig32(record, offsetof(RBDGroupHeader, num_files), num_files);
    PutName(record, name);
    return record;
}

std::string EncodeFileRecord(uint32_t size, uint32_t offset, const std::string &name,
                             uint32_t flags) {
    std::string record(RBD_RECORD_SIZE, '\0');
    PutBig32(record, offsetof(RBDFileHeader, flags), flags);
    PutBig32(record, offsetof(RBDFileHeader, size), size);
    PutBig32(record, offsetof(RBDFileHeader, offset), offset);
    PutName(record, name);
    return record;
}

PackEntry DirectoryGroup(const std::string &name, uint32_t child_groups) {
    PackEntry entry;
    entry.flags = RBD_DIRECTORY_GROUP;
    entry.count = child_groups;
    entry.name = name;
    return entry;
}

PackEntry FileGroup(const std::string &name, uint32_t file_records) {
    PackEntry entry;
    entry.flags = RBD_FILE_GROUP;
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

std::vector<uint64_t> LayOutData(const PackLayout &layout) {
    std::vector<uint64_t> offsets(layout.entries.size(), 0);
    uint64_t next = RBD_HEADER_SIZE + uint64_t{RBD_RECORD_SIZE} * layout.entries.size();
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const PackEntry &entry = layout.entries[i];
        if (entry.is_file) {
            offsets[i] = next;
            next += EntryLength(entry);
        }
    }
    return offsets;
}

std::string EncodeIndex(const PackLayout &layout) {
    uint32_t count = layout.header_count.value_or(static_cast<uint32_t>(layout.entries.size()));
    std::string index = EncodeHeader(count, layout.version, layout.comment);
    index.reserve(RBD_HEADER_SIZE + RBD_RECORD_SIZE * layout.entries.size());
    std::vector<uint64_t> offsets = LayOutData(layout);
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const PackEntry &entry = layout.entries[i];
        if (!entry.is_file) {
            index += EncodeGroupRecord(entry.flags, entry.count, entry.num_files, entry.name);
            continue;
        }
        auto size = static_cast<uint32_t>(EntryLength(entry));
        auto offset = static_cast<uint32_t>(offsets[i]);
        index += EncodeFileRecord(entry.size.value_or(size), entry.offset.value_or(offset),
                                  entry.name, entry.flags);
    }
    return index;
}

std::string BuildPackage(const PackLayout &layout) {
    std::string package = EncodeIndex(layout);
    for (const PackEntry &entry : layout.entries) {
        if (entry.is_file && entry.source.empty()) {
            package += entry.data;
        }
    }
    return package;
}

bool StreamPackage(const PackLayout &layout, FILE *out, std::string &failed_source,
                   int *error_number) {
    failed_source.clear();
    int error = 0;
    bool written = Stream(layout, out, failed_source, error);
    if (error_number != nullptr) {
        *error_number = error;
    }
    return written;
}

bool WriteBytes(const std::string &path, const std::string &bytes) {
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

// Builds RBD packages: the encoding of the header and of index records, and a
// layout of a whole package in memory. Used by the tests, the sample maker and
// rbdpack; every field can be set, so a malformed package is one line away.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern const char kRBDComment[];

const uint32_t kDirectoryGroup = 0x01010000;
const uint32_t kFileGroup = 0x01000000;

// 1024 header bytes; `comment` is copied into the comment field and the rest
// of the field is zero. A comment of 1008 bytes or more fills the field.
std::string EncodeHeader(uint32_t num_indices, uint16_t version = 2,
                         const std::string &comment = kRBDComment);

// 96 bytes of a group record. Names of 63 bytes or more fill the name field
// with no terminating zero.
std::string EncodeGroupRecord(uint32_t flags, uint32_t num_indices, uint32_t num_files,
                              const std::string &name);

// 96 bytes of a file record.
std::string EncodeFileRecord(uint32_t size, uint32_t offset, const std::string &name,
                             uint32_t flags = 0);

// One index record of a package being laid out, with a file record's data.
struct PackEntry {
    bool is_file = false;
    uint32_t flags = 0;     // group kind; a file record's unused flags
    uint32_t count = 0;     // group: child groups or file records that follow
    uint32_t num_files = 0; // group: the informational file count
    std::string name;
    std::string data;               // file: the entry's bytes
    std::optional<uint32_t> size;   // file: overrides data.size()
    std::optional<uint32_t> offset; // file: overrides the laid-out position
};

PackEntry DirectoryGroup(const std::string &name, uint32_t child_groups);
PackEntry FileGroup(const std::string &name, uint32_t file_records);
PackEntry FileEntry(const std::string &name, const std::string &data);

struct PackLayout {
    std::vector<PackEntry> entries;       // index records in file order
    std::optional<uint32_t> header_count; // defaults to entries.size()
    uint16_t version = 2;
    std::string comment = kRBDComment;
};

// The whole package: header, index, then each file's data in index order.
std::string BuildPackage(const PackLayout &layout);

// Writes `bytes` to `path`; false on any failure.
bool WriteBytes(const std::string &path, const std::string &bytes);

// Builds RBD packages: the encoding of the header and of index records, and a
// layout of a whole package, either built in memory or streamed to a file with
// each entry's bytes copied from disk. Used by the tests, the sample maker and
// rbdpack; every field can be set, so a malformed package is one line away.
#pragma once

#include "../types.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// 1024 header bytes; `comment` is copied into the comment field and the rest
// of the field is zero. A comment of 1008 bytes or more fills the field.
std::string EncodeHeader(uint32_t num_indices, uint16_t version = 2,
                         const std::string &comment = header_msg);

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
    // file: when set, the entry's bytes are `source_size` bytes read from this
    // file as the package is streamed, and `data` is not used.
    std::string source;
    uint64_t source_size = 0;
};

PackEntry DirectoryGroup(const std::string &name, uint32_t child_groups);
PackEntry FileGroup(const std::string &name, uint32_t file_records);
PackEntry FileEntry(const std::string &name, const std::string &data);

struct PackLayout {
    std::vector<PackEntry> entries;       // index records in file order
    std::optional<uint32_t> header_count; // defaults to entries.size()
    uint16_t version = 2;
    std::string comment = header_msg;
};

// Where each record's data lies in the package, in the 64 bits that a caller
// needs to see whether it fits the 32-bit offset field: the data of every file
// record follows the index, in index order. 0 for group records.
std::vector<uint64_t> LayOutData(const PackLayout &layout);

// The header and every index record, with offsets as LayOutData places them.
std::string EncodeIndex(const PackLayout &layout);

// The whole package: header, index, then each file's data in index order.
// Entries taken from a `source` file are left out of it.
std::string BuildPackage(const PackLayout &layout);

// Writes the whole package to `out` as BuildPackage lays it out, copying each
// `source` file in pieces so that no entry needs to fit in memory. False on
// failure; `failed_source` then names the source file that could not be read
// whole or had changed size, and is empty when writing to `out` failed. When
// given, `error_number` is then set to the errno of the failed call, or to 0
// when a source had changed size.
bool StreamPackage(const PackLayout &layout, FILE *out, std::string &failed_source,
                   int *error_number = nullptr);

// Writes `bytes` to `path`; false on any failure.
bool WriteBytes(const std::string &path, const std::string &bytes);

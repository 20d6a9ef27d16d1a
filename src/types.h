// The RBD package format, declared once for everything that reads or writes
// it: the records as they lie on disk, their sizes and offsets, the group
// kinds and the comment.
#pragma once

#include <cstddef>
#include <cstdint>

// Every integer field that the program uses is big-endian on disk. Records are
// read whole into these structs and the used fields converted in place, so the
// layout below must match the file byte for byte.

struct RBDHeader {
    uint16_t version;     // must be 2
    uint16_t unused0;     // not read
    uint32_t num_indices; // index records after the header; never 0
    uint32_t unused1[2];  // not read
    char comments[1008];  // copyright text, zero-terminated
};

struct RBDGroupHeader {
    uint32_t flags;       // RBD_DIRECTORY_GROUP, RBD_FILE_GROUP or unknown
    uint32_t num_indices; // child groups, or file records, that follow
    uint32_t num_files;   // shown in the contents report only
    uint32_t unused0[5];  // not read
    uint8_t name_length;  // not consulted: the name is zero-terminated
    char name[63];
};

struct RBDFileHeader {
    uint32_t flags;      // neither converted nor consulted
    uint32_t size;       // entry length in bytes
    uint32_t offset;     // absolute position of the entry's data
    int8_t unused1[20];  // not read
    uint8_t name_length; // not consulted: the name is zero-terminated
    char name[63];
};

static_assert(sizeof(RBDHeader) == 1024, "RBDHeader is 1024 bytes on disk");
static_assert(offsetof(RBDHeader, version) == 0, "RBDHeader layout");
static_assert(offsetof(RBDHeader, unused0) == 2, "RBDHeader layout");
static_assert(offsetof(RBDHeader, num_indices) == 4, "RBDHeader layout");
static_assert(offsetof(RBDHeader, unused1) == 8, "RBDHeader layout");
static_assert(offsetof(RBDHeader, comments) == 16, "RBDHeader layout");

static_assert(sizeof(RBDGroupHeader) == 96, "RBDGroupHeader is 96 bytes on disk");
static_assert(offsetof(RBDGroupHeader, flags) == 0, "RBDGroupHeader layout");
static_assert(offsetof(RBDGroupHeader, num_indices) == 4, "RBDGroupHeader layout");
static_assert(offsetof(RBDGroupHeader, num_files) == 8, "RBDGroupHeader layout");
static_assert(offsetof(RBDGroupHeader, unused0) == 12, "RBDGroupHeader layout");
static_assert(offsetof(RBDGroupHeader, name_length) == 32, "RBDGroupHeader layout");
static_assert(offsetof(RBDGroupHeader, name) == 33, "RBDGroupHeader layout");

static_assert(sizeof(RBDFileHeader) == 96, "RBDFileHeader is 96 bytes on disk");
static_assert(offsetof(RBDFileHeader, flags) == 0, "RBDFileHeader layout");
static_assert(offsetof(RBDFileHeader, size) == 4, "RBDFileHeader layout");
static_assert(offsetof(RBDFileHeader, offset) == 8, "RBDFileHeader layout");
static_assert(offsetof(RBDFileHeader, unused1) == 12, "RBDFileHeader layout");
static_assert(offsetof(RBDFileHeader, name_length) == 32, "RBDFileHeader layout");
static_assert(offsetof(RBDFileHeader, name) == 33, "RBDFileHeader layout");

// Sizes and offsets by name, for code that lays out bytes itself.
const size_t RBD_HEADER_SIZE = 1024;
const size_t RBD_RECORD_SIZE = 96;
const size_t RBD_COMMENT_OFFSET = 16;
const size_t RBD_COMMENT_FIELD = 1008;
const size_t RBD_NAME_LENGTH_OFFSET = 32;
const size_t RBD_NAME_OFFSET = 33;
const size_t RBD_NAME_FIELD = 63;
static_assert(RBD_HEADER_SIZE == sizeof(RBDHeader), "header size");
static_assert(RBD_RECORD_SIZE == sizeof(RBDGroupHeader), "record size");
static_assert(RBD_COMMENT_OFFSET == offsetof(RBDHeader, comments), "comment offset");
static_assert(RBD_COMMENT_FIELD == sizeof(RBDHeader::comments), "comment field");
static_assert(RBD_NAME_LENGTH_OFFSET == offsetof(RBDFileHeader, name_length), "name length");
static_assert(RBD_NAME_OFFSET == offsetof(RBDGroupHeader, name), "name offset");
static_assert(RBD_NAME_FIELD == sizeof(RBDFileHeader::name), "name field");

const uint16_t RBD_VERSION = 2;
const uint32_t RBD_DIRECTORY_GROUP = 0x01010000;
const uint32_t RBD_FILE_GROUP = 0x01000000;

// The comment that every package must carry, with its terminating zero byte.
inline constexpr char header_msg[57] = "Copyright 1998 Reality Bytes, Inc.  All rights reserved.";

// Longest text a path buffer holds; buffers are one byte larger.
const size_t RBD_MAX_PATH = 258;
// Longest output directory name; the buffer is one byte larger.
const size_t RBD_MAX_PACKAGE_NAME = 63;

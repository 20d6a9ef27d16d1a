// RBD package records as they lie on disk, the in-memory package built from
// them, and the few values that the whole run shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

const uint16_t RBD_VERSION = 2;
const uint32_t RBD_DIRECTORY_GROUP = 0x01010000;
const uint32_t RBD_FILE_GROUP = 0x01000000;

// The comment that every package must carry, with its terminating zero byte.
extern const char header_msg[57];

// Longest text a path buffer holds; buffers are one byte larger.
const size_t RBD_MAX_PATH = 258;
// Longest output directory name; the buffer is one byte larger.
const size_t RBD_MAX_PACKAGE_NAME = 63;

// One node per group record read. Only top-level groups are chained by next;
// children are read and extracted but never linked below their parent.
struct RBDGroup {
    RBDGroupHeader header;
    RBDFileHeader *files; // file table of a file group, else null
    RBDGroup *parent;     // enclosing directory group, null at top level
    RBDGroup *children;   // always null
    RBDGroup *next;       // next top-level group in file order
};

struct RBDPackage {
    char path[RBD_MAX_PATH + 1];
    RBDHeader header;
    RBDGroup *groups; // first top-level group
};

// Shared by the driver, the loader, the entry writer and the contents report.
extern char package_name[RBD_MAX_PACKAGE_NAME + 1]; // output root directory name
extern FILE *fp;                                    // the open package stream
extern uint32_t num_indices;                        // index records consumed so far
extern uint64_t package_size;                       // length of the package file

// Prints a warning (a format that begins "WARNING: " and ends in a line feed)
// and notes that the run printed one, so that its exit status can say so.
void RBD_Warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// True once any warning has been printed.
extern bool warnings_printed;

// Ends the process with `status` after flushing standard output. Every fatal
// error goes through here so that there is one place where the run stops.
[[noreturn]] void RBD_Exit(int status);

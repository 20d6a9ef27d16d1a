// The walk of a package's index: its header checked, then every group and
// entry handed up one event at a time, in file order, depth first. It is the
// one reader of the format: the command line, the library and the fuzz target
// all read packages through it. It prints nothing, ends nothing and keeps no
// state outside its own record; every read is positional, one per record and
// one per file table.
#pragma once

#include "../types.h"
#include "package_source.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What stopped a walk. The first five concern the header (the file is not
// an RBD package); the rest the index (the package is damaged).
enum RBDWalkProblem {
    RBD_PROBLEM_NONE = 0,
    RBD_PROBLEM_HEADER_SHORT,  // fewer than 1024 bytes could be read
    RBD_PROBLEM_NO_INDICES,    // the header's index count is 0
    RBD_PROBLEM_VERSION,       // the version is not 2
    RBD_PROBLEM_COMMENT,       // the comment is not the format's
    RBD_PROBLEM_SIZE,          // the package's length can't be had
    RBD_PROBLEM_GROUP_SHORT,   // a group record could not be read whole
    RBD_PROBLEM_PATH_TOO_LONG, // a group path longer than RBD_MAX_PATH
    RBD_PROBLEM_CHILD_MISSING, // the index ended inside a directory group
    RBD_PROBLEM_TABLE_SHORT,   // a file table could not be read whole
    RBD_PROBLEM_TABLE_NOMEM,   // memory for a file table could not be had
};

struct RBDWalkError {
    RBDWalkProblem problem;
    int os_error;     // the system's error when a read failed, else 0
    uint32_t record;  // the index record at fault, from 0 at byte 1024
    uint16_t version; // RBD_PROBLEM_VERSION: the version found
    // RBD_PROBLEM_COMMENT: the comment up to its first zero byte;
    // RBD_PROBLEM_CHILD_MISSING: the directory group's name.
    char text[RBD_COMMENT_FIELD + 1];
};

enum RBDWalkEventKind {
    RBD_EVENT_GROUP,        // a group record was read
    RBD_EVENT_FILE_TABLE,   // a file group's records were read
    RBD_EVENT_ENTRY,        // one file record of that table
    RBD_EVENT_END_OF_INDEX, // the index counter reached the header's count
    RBD_EVENT_DONE,         // the walk is complete
    RBD_EVENT_FAILED,       // the walk stopped at damage; see RBDWalk::error
};

struct RBDWalkEvent {
    RBDWalkEventKind kind;
    uint32_t record;             // GROUP, ENTRY: the record's number
    size_t depth;                // GROUP, FILE_TABLE: 0 for a top-level group
    const RBDGroupHeader *group; // GROUP, FILE_TABLE: converted, name terminated
    // GROUP, FILE_TABLE, ENTRY: the group path as the package spells it
    // ("/etc/", "data//snd/"), which the classic run prints and measures,
    // and its normal form ("etc/", "data/snd/"), the directory that
    // extraction writes to and the start of every path shown of an entry
    // (group_path.h).
    const char *group_path;
    const char *normal_group_path;
    // FILE_TABLE: the whole table; ENTRY: the one record. Size and offset
    // converted, names terminated.
    const RBDFileHeader *files;
    uint32_t file_count;
    bool safe_group; // ENTRY: no name along the group path leads outside the root
};

// A directory group whose children are still being read.
struct RBDOpenGroup {
    uint32_t children_left;
    size_t path_length;   // of the group path above this group
    size_t normal_length; // of its normal form
    bool safe;            // this group's path and every one above it
    char name[RBD_NAME_FIELD];
};

enum RBDWalkStep { RBD_STEP_NEXT_GROUP, RBD_STEP_READ_TABLE, RBD_STEP_ENTRIES, RBD_STEP_AT_END };

struct RBDWalk {
    RBDPackageSource source;
    uint64_t package_size;
    RBDHeader header; // version and num_indices converted
    // Index records consumed: 1 for every group read or end found, plus
    // every file group's record count. It never wraps.
    uint32_t counter;
    uint32_t groups_read;
    uint32_t next_record; // the number of the next record in the file
    std::vector<RBDOpenGroup> open_groups;
    // The group path in hand, as spelled and in its normal form, and where
    // the group in hand begins in each.
    char group_path[RBD_MAX_PATH + 1];
    char normal_path[RBD_MAX_PATH + 1];
    size_t group_start;
    size_t normal_start;
    bool group_safe;
    RBDGroupHeader group;
    std::vector<RBDFileHeader> files;
    size_t next_file;
    uint32_t first_file_record;
    RBDWalkStep step;
    bool finished;
    RBDWalkError error;
};

// Reads and checks the header of the package open as `fd`, and measures the
// package. False, with walk.error set, when it is not an RBD package. The
// walk reads `fd` but never closes it.
bool RBD_StartWalk(RBDWalk &walk, int fd);

// The same for a package read from `source`, which stays the caller's.
bool RBD_StartWalkOn(RBDWalk &walk, const RBDPackageSource &source);

// The next event of a started walk. After DONE or FAILED every call gives
// the same again.
void RBD_NextEvent(RBDWalk &walk, RBDWalkEvent &event);

// The index records that the package of a started walk can hold: no more
// than its length leaves room for, whatever its header claims. What a
// reader may reserve room for before the walk.
uint64_t RBD_RecordsHeld(const RBDWalk &walk);

// True for the problems of the header, which say that the file is not an RBD
// package at all.
bool RBD_IsHeaderProblem(RBDWalkProblem problem);

// Which paths a new entry may have: the rules of the format and of
// extraction, checked before anything changes.
#pragma once

#include "write_model.h"

#include <cstddef>
#include <cstdint>

enum RBDPathProblem {
    RBD_PATH_FITS = 0,
    RBD_PATH_EMPTY_NAME,  // an empty name: a leading, trailing or doubled slash
    RBD_PATH_UNSAFE_NAME, // ".", "..", a backslash, a drive (IsSafeName)
    RBD_PATH_LONG_NAME,   // a name of 63 bytes or more: the name field holds 62
    RBD_PATH_TOO_LONG,    // extraction would refuse its output path as too long
    RBD_PATH_TOP_LEVEL,   // a file at the top level: files live in groups only
    RBD_PATH_GROUP_THERE, // a group has the path: a file can't have it too
    RBD_PATH_FILE_THERE,  // an entry has the path of a group on the way
};

struct RBDPathVerdict {
    RBDPathProblem problem;
    size_t at;     // the name at fault, or the leading part that is a file:
    size_t length; // where it starts in the path, and how long it is
};

// The names of `path` (`length` bytes), each checked alone.
RBDPathVerdict RBD_CheckNames(const char *path, size_t length);

// What the package already holds in the way of a new entry at `path`, whose
// names passed RBD_CheckNames: a group of that path, or an entry whose path
// is a leading part of it. `ignored` (or RBD_NONE) is an entry that is not
// counted, the one being renamed.
RBDPathVerdict RBD_CheckClashes(const RBDWriteModel &model, const char *path, size_t length,
                                int64_t ignored);

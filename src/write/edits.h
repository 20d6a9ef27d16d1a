// The edits of a package being written: an entry put (added, or its data
// replaced in place), the entries of a path removed, an entry renamed. Each
// is planned first, changing nothing, so that a refused one leaves the
// model as it was and the caller's bytes need not be kept for it.
#pragma once

#include "path_rules.h"
#include "placement.h"
#include "write_model.h"

#include <cstddef>
#include <cstdint>

struct RBDPutPlan {
    RBDPathVerdict verdict; // RBD_PATH_FITS when it may be done
    int64_t replaced;       // the entry whose data it replaces; RBD_NONE: a new entry
    RBDPlacement placement; // a new entry's place
};

// Plans putting an entry at `path`: the entry kr_find would find there has
// its data replaced; else a new entry is added, when its path passes the
// rules. `root_length` is the length of the output root's name below which
// extraction's limit on a path's length is measured.
RBDPutPlan RBD_PlanPut(const RBDWriteModel &model, const char *path, size_t root_length);

// Does what the plan says, the data `size` bytes (at most 4 GiB - 1) from
// `source` (SPOOL or FILE) at `data` in the model's data. Throws
// std::bad_alloc.
void RBD_ApplyPut(RBDWriteModel &model, const char *path, const RBDPutPlan &plan,
                  RBDDataSource source, uint32_t data, uint32_t size);

// Removes every entry of `path`; gives how many there were.
size_t RBD_RemovePath(RBDWriteModel &model, const char *path);

enum RBDRenameProblem {
    RBD_RENAME_FITS,
    RBD_RENAME_NOT_FOUND,  // no entry has the path `from`
    RBD_RENAME_EXISTS,     // an entry has the path `to` already
    RBD_RENAME_PATH,       // `to` breaks a rule: see the verdict
    RBD_RENAME_UNREADABLE, // the entry's record could not be read from the base
};

struct RBDRenamePlan {
    RBDRenameProblem problem;
    RBDPathVerdict verdict;
    int64_t entry;          // the entry renamed: the one kr_find finds at `from`
    bool in_place;          // `to` has the entry's group path: it keeps its place
    RBDPlacement placement; // else where it goes, as a new entry would
    RBDRecordBytes record;  // the entry's record as it is
};

RBDRenamePlan RBD_PlanRename(const RBDWriteModel &model, const char *from, const char *to,
                             size_t root_length);

// Throws std::bad_alloc.
void RBD_ApplyRename(RBDWriteModel &model, const char *to, const RBDRenamePlan &plan);

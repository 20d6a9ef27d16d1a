// One side of --diff, as an extraction would leave it: of a package, the
// entries left (entries_left.h), or the names of a directory tree, such as
// an earlier extraction (tree_walk.h); each handed up one at a time in the
// byte order of their paths, as far as the run's members choose them.
#pragma once

#include "../../package/text_store.h"
#include "../entries/entries_left.h"
#include "../run_state.h"
#include "tree_walk.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct RBDDiffSide {
    const char *named; // as the user named it
    bool is_tree;
    // A package: open, with its entries left and the next of them.
    int package_fd;
    uint64_t package_size;
    RBDTextStore text;
    std::vector<RBDEntryLeft> left;
    size_t next;
    // A directory.
    RBDTreeWalk tree;
    RBDTreeItem tree_item;
    // The path of the item in hand, below the output root or the directory;
    // null once every item was handed up.
    const char *path;
};

// Where the bytes of an item lie, once open: `size` bytes at `offset` of
// `fd`.
struct RBDDiffBytes {
    int fd;
    uint64_t offset;
    uint64_t size;
    bool owned; // `fd` is the item's own file, closed by RBD_CloseItemBytes
};

// Opens `named` as a side and moves to its first item: with `may_be_tree`,
// a directory becomes a tree (links in its own path are the user's and
// followed); anything else must be a package, whose entries left are found
// before the first item. Failures end the run with status 1.
void RBD_OpenSide(RBDRun &run, RBDDiffSide &side, const char *named, bool may_be_tree);

// Moves to the side's next item that the run's members choose; side.path is
// null past the last. A name in a tree that is no regular file (a link, a
// FIFO...) is never followed or read, and differs from any entry: it gets
// a warning that says so.
void RBD_NextOnSide(RBDRun &run, RBDDiffSide &side);

// Opens the bytes of the item in hand; false for a name in a tree that is
// no regular file. An entry whose data runs past its package's end has no
// bytes: extraction leaves an empty file.
bool RBD_OpenItemBytes(RBDRun &run, const RBDDiffSide &side, RBDDiffBytes &bytes);

void RBD_CloseItemBytes(RBDDiffBytes &bytes);

// Ends the run with status 1: the item in hand could not be read, for
// `reason`.
[[noreturn]] void RBD_FailItemRead(RBDRun &run, const RBDDiffSide &side, const char *reason);

// Closes what the side holds.
void RBD_CloseSide(RBDDiffSide &side);

// The walk of a directory tree, such as an earlier extraction, that --diff
// compares with a package: every name that is no directory, in the byte
// order of the paths below the top, as `git diff` sorts them ("a-b", then
// "a/b", then "a0"), so that the walk merges with a package's sorted paths.
// Each directory is entered through its parent's handle and never through a
// link (hostkit.h); a link is handed up as what it is, never followed. No
// recursion: one open handle and one listing for each level being read.
#pragma once

#include "../../hostkit/hostkit.h"

#include <cstddef>
#include <string>
#include <vector>

// A name in a directory being read, and what it is (HK_KIND_*).
struct RBDTreeName {
    std::string name;
    int kind;
};

// A directory being read: its handle, its path below the top ("" or ending
// in "/"), its names once listed, in the order of their paths, and the next.
struct RBDTreeLevel {
    hkDirectory *dir;
    std::string prefix;
    bool listed;
    std::vector<RBDTreeName> names;
    size_t next;
};

struct RBDTreeWalk {
    std::vector<RBDTreeLevel> levels; // the top first, the one being read last
};

// What the walk hands up: a file, a link or another name that is no
// directory (HK_KIND_FILE, HK_KIND_LINK, HK_KIND_OTHER), found in `dir`
// (open until the next step) as `name`; or, when a step fails, the
// directory that could not be read.
struct RBDTreeItem {
    std::string path; // below the top, "/" between names
    hkDirectory *dir;
    const char *name;
    int kind;
};

enum RBDTreeStep { RBD_TREE_ITEM, RBD_TREE_DONE, RBD_TREE_FAILED };

// Starts a walk below `top`, which it takes: the walk closes it.
void RBD_StartTreeWalk(RBDTreeWalk &walk, hkDirectory *top);

// The next name of the tree: RBD_TREE_ITEM with `item` filled; at the end
// RBD_TREE_DONE; RBD_TREE_FAILED when the directory `item.path` could not
// be listed or entered, with hkGetError saying why. Throws std::bad_alloc.
RBDTreeStep RBD_NextInTree(RBDTreeWalk &walk, RBDTreeItem &item);

// Closes whatever the walk holds open.
void RBD_EndTreeWalk(RBDTreeWalk &walk);

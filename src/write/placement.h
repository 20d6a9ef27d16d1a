// Where a new entry goes, by the one set of rules that makes rbdpack's
// layout: put the files of a tree one by one in the order rbdpack writes
// them, and the package is the one rbdpack makes of the tree.
//  - A new entry goes at the end of the last file group whose path is its
//    group path.
//  - If there is none and a directory group has that path, a file group of
//    the same name is made right after it, in the same group (rbdpack's
//    "directory group, then file group of the same name").
//  - Else the file group is made in the last directory group of the longest
//    leading part of the path that has one (or at the top level), with the
//    directory groups it needs in between.
//  - A group made among others goes after the last of them that sorts at or
//    before it: by name, in byte order, and a directory group before a file
//    group of the same name, as rbdpack orders a directory's groups.
#pragma once

#include "write_model.h"

#include <cstddef>
#include <cstdint>

struct RBDPlacement {
    int64_t file_group;    // the file group it goes to; RBD_NONE when one is made
    uint32_t anchor;       // else: the directory group (or the top level) the groups go in,
    bool sibling;          // or, when set, the directory group the file group follows
    size_t made_from;      // the names of the group path from this byte on become groups
    size_t spelled_length; // of the group path where it goes, as the package spells it
};

// Where an entry of normal group path `group_path` ("a/b/", `length` bytes,
// not empty) goes. Changes nothing.
RBDPlacement RBD_PlanPlacement(const RBDWriteModel &model, const char *group_path, size_t length);

// Makes the groups that `placement` calls for; gives the file group.
// Throws std::bad_alloc.
uint32_t RBD_ApplyPlacement(RBDWriteModel &model, const char *group_path, size_t length,
                            const RBDPlacement &placement);

// Lays out the tree that `kestrun PACKAGE` writes into a fresh directory on
// Linux, from the package's entries in index order, without writing anything:
//  - an entry that the command line refuses (entry_verdict.h) is left out;
//  - a group's directory is made only when an entry below it gets that far,
//    and empty names along a group path are passed over ("a//b/" is a/b);
//  - an entry whose group path meets a file, or whose name a directory has,
//    fails and is left out; an entry with an empty name leaves its group's
//    directory but no file;
//  - a later file of the same path replaces an earlier one;
//  - an entry whose data lies past the package's end is an empty file.
// The output budget of an extraction is not applied: nothing is written.
#pragma once

#include "node_table.h"

// Why an entry that extraction meets is not in the tree.
enum LeftOut {
    LEFT_OUT_UNSAFE,          // a name that could lead outside the output root
    LEFT_OUT_TOO_LONG,        // its output path is too long
    LEFT_OUT_FILE_IN_WAY,     // a file has the name of one of its group's directories
    LEFT_OUT_EMPTY_NAME,      // its own name is empty
    LEFT_OUT_DIRECTORY_IN_WAY // a directory has its name
};

typedef void (*LeftOutReport)(void *context, const kr_entry &entry, LeftOut why);

// Fills `table` (its package set) with the tree of the package's entries,
// measuring output paths below `root_name` as the command line does.
// `report` is called once for each entry left out, in index order. False
// when memory can't be had.
bool LayOutTree(MountTable &table, const char *root_name, LeftOutReport report, void *context);

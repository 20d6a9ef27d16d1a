// Lays out the tree that `kestrun PACKAGE` writes into a fresh directory on
// Linux, from the package's entries in index order, without writing anything:
//  - an entry that the command line refuses (kr_entry_verdict) is left out;
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

// Called for an entry that the tree leaves out, with the command line's
// outcome for it: KR_OUTCOME_UNSAFE, KR_OUTCOME_TOO_LONG, KR_OUTCOME_NO_PATH
// (a file has the name of one of its group's directories),
// KR_OUTCOME_EMPTY_NAME or KR_OUTCOME_WRITE_FAILED (a directory has its name).
typedef void (*LeftOutReport)(void *context, const kr_package *package, const kr_entry &entry,
                              int outcome);

// Fills `table` (its package set) with the tree of the package's entries,
// measuring output paths below `root_name` as the command line does.
// `report` is called once for each entry left out, in index order. False
// when memory can't be had.
bool LayOutTree(MountTable &table, const char *root_name, LeftOutReport report, void *context);

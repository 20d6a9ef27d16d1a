// What extraction makes of an entry of an open package before it touches the
// disk, below an output root of a given name: the command line's rules, for
// kr_test and kr_entry_verdict.
#pragma once

#include "../extract/engine.h"
#include "package_table.h"

// RBD_ENTRY_WRITTEN when entry `index` may be written below a root named
// `root_name` ("" for a directory of the caller's); else RBD_ENTRY_UNSAFE (a
// name on its path could lead outside the root), RBD_ENTRY_TOO_LONG (its
// output path "./<root_name>/<group path><name>" is too long, measured on the
// group path as the package spells it) or RBD_ENTRY_EMPTY_NAME.
RBDEntryOutcome RBD_VerdictOf(const kr_package &pkg, uint32_t index, const char *root_name);

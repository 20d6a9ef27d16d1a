// The forms of rbdpack that edit a package in place (edit_run.h): --update
// from a tree, --add of one file, --delete by patterns, --rename.
#pragma once

#include "arguments.h"

// Each runs the edit to its end: returns the status, 0, or ends the run with
// status 1 and the package as it was.
int RunUpdate(const PackArguments &arguments);
int RunAdd(const PackArguments &arguments);
int RunDelete(const PackArguments &arguments);
int RunRename(const PackArguments &arguments);

// A plain-text report of a loaded package: its header, its top-level groups
// and the file records of each file group.
#pragma once

#include "loaded_package.h"

// Prints the report of `package`, as RBD_LoadPackage returned it, to standard
// output. Works from memory only; the package file is not read again.
void RBD_ListContents(const RBDPackage *package);

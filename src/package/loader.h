// Reads an RBD package: validates its header and walks its index depth first,
// extracting every entry as soon as its file record has been read.
#pragma once

#include "../types.h"

// Loads and extracts the package at `path`. Every failure is fatal: it prints
// its message and ends the process with status 1, so this returns only on
// success.
RBDPackage *RBD_LoadPackage(const char *path);

// Reads the next group record and everything the group holds. Returns null
// once the index counter has reached the end of the index.
RBDGroup *RBD_LoadGroup(RBDPackage *package, RBDGroup *parent);

// Gives back the package, its top-level groups and their file tables.
void RBD_FreePackage(RBDPackage *package);

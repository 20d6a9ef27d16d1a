// The command line's load of a package: the walk of its index (walk.h), with
// every event turned into the run's messages and every entry handed to the
// run's action as soon as its record has been read.
#pragma once

#include "loaded_package.h"

#include <cstdint>

// Index records consumed so far, as the walk counts them (the final call that
// found the end included); the contents report prints it.
extern uint32_t num_indices;

// The package being loaded, open for reading during the load (-1 before and
// after), and its length, for the summaries and the copies.
extern int package_fd;
extern uint64_t package_size;

// The package while it is being loaded. A fatal error ends the run with it
// held, as a loaded package is held until the run ends.
extern RBDPackage *package_in_load;

// Loads the package at `path`, handling every entry as the run's mode says.
// Every failure is fatal: it prints its message and ends the run with status
// 1, so this returns only on success, with the package's top-level groups.
RBDPackage *RBD_LoadPackage(const char *path);

// Gives back the package, its top-level groups and their file tables.
void RBD_FreePackage(RBDPackage *package);

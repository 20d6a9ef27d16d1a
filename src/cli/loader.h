// The command line's load of a package: the walk of its index (walk.h), with
// every event turned into the run's messages and every entry handed to the
// run's action as soon as its record has been read.
#pragma once

#include "../package/walk.h"
#include "loaded_package.h"
#include "run_state.h"

// Opens the package file `path` for reading as the library does
// (open_package.h), or ends the run with status 1 and the message of its
// refusal: the classic run's one line, or in option mode why.
int RBD_OpenPackageOrFail(RBDRun &run, const char *path);

// Ends the run with status 1 and the message for a walk of the package
// `path` that stopped at `error`: a file that is no package, or damage.
[[noreturn]] void RBD_FailWalk(RBDRun &run, const RBDWalkError &error, const char *path);

// Loads the package at `run.package.path`, handling every entry as the run's
// mode says. The package is open as `run.package.fd` during the load only;
// `run.package.size` is set once its header has been read, and
// `run.totals` counts what the walk met. Every failure is fatal: it prints
// its message and ends the run with status 1, so this returns only on
// success, with the package's top-level groups.
RBDPackage *RBD_LoadPackage(RBDRun &run);

// Gives back the package, its top-level groups and their file tables.
void RBD_FreePackage(RBDPackage *package);

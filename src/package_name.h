// The output root's name, taken from the package's file name.
#pragma once

#include "types.h"

// The name of the output root directory, set once before the load.
extern char package_name[RBD_MAX_PACKAGE_NAME + 1];

// Sets package_name to `filename` without its last four characters, which are
// taken to be the extension ("music.rbd" gives "music"). False, leaving
// package_name unusable, for names that can't name an output root: shorter
// than the extension itself, giving "." or "..", or giving more than 63
// characters. A name of exactly four characters gives the empty name, so the
// output lands in the working directory itself.
bool SetPackageName(const char *filename);

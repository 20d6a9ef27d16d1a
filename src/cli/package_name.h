// The output root's name, taken from the package's file name.
#pragma once

#include "../types.h"

// The name of the output root directory, set once before the load.
extern char package_name[RBD_MAX_PACKAGE_NAME + 1];

// Sets package_name to the output root's name for a package whose file name
// is `filename` (RBD_RootNameOf); false for a name that can't name one.
bool SetPackageName(const char *filename);

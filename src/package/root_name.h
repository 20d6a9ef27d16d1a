// The output root that extracting a package makes by default: a directory
// named after the package's file name less its four-character extension.
#pragma once

#include "../types.h"

// Puts in `root` (RBD_MAX_PACKAGE_NAME + 1 bytes) the output root's name for
// a package whose file name is `filename`: the name without its last four
// characters, which are taken to be the extension ("music.rbd" gives
// "music"). A name of exactly four characters gives the empty name: the
// output lands in the directory itself. False, leaving `root` unusable, for
// names that can't name an output root: shorter than the extension, giving
// "." or "..", or giving more than RBD_MAX_PACKAGE_NAME characters.
bool RBD_RootNameOf(const char *filename, char *root);

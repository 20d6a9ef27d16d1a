// Opens the package to be mounted and lays out its tree, before anything is
// mounted: a package that can't be opened, or a damaged one without
// -o partial, is refused with the library's message. Each entry that the
// tree leaves out is reported once, here, in the command line's words.
#pragma once

#include "operations.h"

// Fills `state` for the package at `path`. False, after printing why, when
// it can't be mounted.
bool OpenForMount(MountState &state, const char *path, bool partial);

// Gives back what OpenForMount took.
void CloseMounted(MountState &state);

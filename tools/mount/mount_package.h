// Opens the package to be mounted and lays out its tree, before anything is
// mounted: a package that can't be opened, or a damaged one without
// -o partial, is refused with the library's message. Each entry that the
// tree leaves out is reported once, here, in the command line's words.
#pragma once

#include "mount_options.h"
#include "operations.h"

// Fills `state` for the package that `options` name, with the owner and
// permissions they ask for. False, after printing why, when it can't be
// mounted (its name gives kestrun no output root, it can't be opened, it is
// no package or is damaged).
bool OpenForMount(MountState &state, const MountOptions &options);

// Gives back what OpenForMount took.
void CloseMounted(MountState &state);

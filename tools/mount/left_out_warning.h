// The command line's warning for an entry that the mounted tree leaves out,
// word for word as `kestrun PACKAGE` prints it (the library words it), on
// standard error; but paths are the library's, below the output root: where
// the package spells empty group names the classic run shows them
// ("./pkg//data"), the mount can't ("./pkg/data"). Names are escaped where
// standard error is a terminal, as the command line escapes them.
#pragma once

#include "tree_layout.h"

// `context` is the output root's name (const char *), as LayOutTree hands it.
void WarnLeftOut(void *context, const kr_package *package, const kr_entry &entry, int outcome);

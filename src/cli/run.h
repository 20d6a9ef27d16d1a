// The steps of a run that the classic command line and option mode share.
#pragma once

#include "../types.h"

// Checks that `input` exists and, when `names_root` (the output root is
// named after the package), that its file name can name one. Fatal errors
// end the run with status 1.
void RBD_PreparePackage(const char *input, bool names_root);

// Runs option mode (argv[1] is an option word) to its end.
[[noreturn]] void RBD_RunWithOptions(int argc, char **argv);

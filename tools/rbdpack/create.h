// rbdpack DIR OUTPUT.rbd: a new package of the tree under DIR.
#pragma once

#include "arguments.h"

// Packs the tree, or ends the run with an error: returns the status, 0.
int RunCreate(const PackArguments &arguments);

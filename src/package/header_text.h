// The words for a file that is no RBD package, once for the command line's
// option mode and the library's errors.
#pragma once

#include "walk.h"

#include <cstddef>

// Puts in `text` (`size` bytes) what is wrong with the header that `error`
// found, "not an RBD package (unknown version 0x7573)"; false, with `text`
// empty, when `error` is not about the header (or a read failed).
bool RBD_WordHeaderProblem(const RBDWalkError &error, char *text, size_t size);

// rbdpack's errors: one line on standard error, "ERROR: ..., aborting!", and
// status 1; or, for a tree, every path it refuses at once, with the words
// that leave them out.
#pragma once

#include "scan_tree.h"

#include <string>
#include <vector>

// Prints `line` and ends the run with status 1.
[[noreturn]] void Fail(const std::string &line);

// Ends the run unless `dir` is a directory that `package` does not lie in
// (else a package could end up packed into the next one); `verb` says what
// the tree is for, "packs" or "is updated from".
void CheckTreeFor(const std::string &dir, const std::string &package, const char *verb);

// ": <the system's text for errno `error`>", or nothing when there is none.
std::string Reason(int error);

// Prints an error for each refusal, in the order met, and then the
// --exclude words that leave out every path that can be left out:
//   ERROR: Unsafe name, "tree/a\b", aborting!
//   To pack the rest without it, add: --exclude 'a\\b'
// for one (the words as `rest` gives them: "To pack the rest"), and for more
//   ERROR: Unsafe name, "tree/a\b"!
//   ERROR: Name longer than 62 bytes, "tree/c/xxx...x"!
//   ERROR: 2 paths refused, aborting!
//   To pack the rest without them, add: --exclude 'a\\b' --exclude c/xxx...x
void PrintRefusals(const std::vector<TreeRefusal> &refusals, const char *rest);

// The command line of option mode: options first, then the package, then
// member patterns.
#pragma once

#include "../run_mode.h"

#include <string>
#include <vector>

struct RBDOptions {
    RBDEntryAction action; // extraction unless an option chose another
    bool quiet;
    bool help;
    bool version;
    const char *output_dir; // -C DIR, or null
    const char *package;    // null when none was given
    std::vector<const char *> patterns;
};

// True when `word`, as the first argument, starts option mode: it is exactly
// one of the options, or "--directory=" followed by a directory. Any other
// first argument is a package, as it always was.
bool RBD_IsOptionWord(const char *word);

// Reads argv[1] onwards. False, with `error` saying what is wrong in one
// sentence, for an unknown option, a missing directory or package, or
// options that don't go together. -h and -V need no package and take
// precedence over everything but an unknown option or a missing directory.
bool RBD_ParseOptions(int argc, char **argv, RBDOptions &options, std::string &error);

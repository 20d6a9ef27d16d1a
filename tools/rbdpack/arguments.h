// rbdpack's command line: options anywhere before "--", then DIR and
// OUTPUT.rbd.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct PackArguments {
    const char *dir = nullptr;
    const char *output = nullptr;
    std::vector<std::string> excludes; // as NormalizedPattern gives them
    bool help = false;                 // -h, --help, or no arguments at all
};

// False, with what is wrong in `error`, on a mistake.
bool ParseArguments(int argc, char **argv, PackArguments &arguments, std::string &error);

void PrintUsage(FILE *stream);

// rbdpack: writes an RBD package from a directory tree, such that kestrun
// extracts the same tree again; or edits a package in place.
#include "arguments.h"
#include "create.h"
#include "edits.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    PackArguments arguments;
    std::string mistake;
    if (!ParseArguments(argc, argv, arguments, mistake)) {
        std::fprintf(stderr, "ERROR: %s\nTry 'rbdpack --help' for more information.\n",
                     mistake.c_str());
        return 1;
    }
    if (arguments.help) {
        PrintUsage(stdout);
        return 0;
    }
    switch (arguments.mode) {
    case PackMode::kUpdate:
        return RunUpdate(arguments);
    case PackMode::kAdd:
        return RunAdd(arguments);
    case PackMode::kDelete:
        return RunDelete(arguments);
    case PackMode::kRename:
        return RunRename(arguments);
    case PackMode::kCreate:
        break;
    }
    return RunCreate(arguments);
}

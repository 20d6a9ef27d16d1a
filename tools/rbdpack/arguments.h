// rbdpack's command line: options anywhere before "--", then the operands of
// the form chosen: DIR and OUTPUT.rbd to pack a tree, or PACKAGE and what
// --update, --add, --delete or --rename edit in it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum class PackMode { kCreate, kUpdate, kAdd, kDelete, kRename };

struct PackArguments {
    PackMode mode = PackMode::kCreate;
    // kCreate: DIR, OUTPUT.rbd. kUpdate: PACKAGE, DIR. kAdd: PACKAGE, FILE,
    // PATH. kDelete: PACKAGE, PATTERN... kRename: PACKAGE, OLD, NEW.
    std::vector<const char *> operands;
    std::vector<std::string> excludes; // as NormalizedPattern gives them
    bool delete_missing = false;       // --update: remove entries with no file under DIR
    bool dry_run = false;              // edits: print the changes, write nothing
    bool dereference = false;          // follow symbolic links under DIR
    bool help = false;                 // -h, --help, or no arguments at all
};

// False, with what is wrong in `error`, on a mistake.
bool ParseArguments(int argc, char **argv, PackArguments &arguments, std::string &error);

void PrintUsage(FILE *stream);

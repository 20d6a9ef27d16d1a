#include "arguments.h"

#include "../../src/cli/entries/pattern.h"

#include "exclude.h"

#include <cstring>

namespace {

const char usage[] =
    "Usage: rbdpack [--exclude PATTERN]... DIR OUTPUT.rbd\n"
    "Writes the files under DIR into the RBD package OUTPUT.rbd; kestrun\n"
    "extracts them again into a directory named after the package.\n"
    "\n"
    "      --exclude PATTERN  leave out the files and directories whose path under\n"
    "                         DIR matches PATTERN (*, ?, [...]), such as 'build'\n"
    "                         or '*.o'; may be given more than once\n"
    "  -h, --help             print this help\n"
    "      --                 end the options\n"
    "\n"
    "A package keeps the names and bytes of files alone: no modes, times, owners,\n"
    "links or empty directories.\n";

const char kExcludeAssignment[] = "--exclude=";

std::string Quoted(const char *word) {
    return std::string("\"") + word + "\"";
}

} // namespace

bool ParseArguments(int argc, char **argv, PackArguments &arguments, std::string &error) {
    arguments = PackArguments{};
    std::vector<const char *> operands;
    bool options_open = true;
    for (int next = 1; next < argc; ++next) {
        const char *word = argv[next];
        if (!options_open || word[0] != '-' || word[1] == '\0') {
            operands.push_back(word);
        } else if (std::strcmp(word, "--") == 0) {
            options_open = false;
        } else if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0) {
            arguments.help = true;
        } else if (std::strncmp(word, kExcludeAssignment, sizeof kExcludeAssignment - 1) == 0) {
            arguments.excludes.push_back(NormalizedPattern(word + sizeof kExcludeAssignment - 1));
        } else if (std::strcmp(word, "--exclude") == 0) {
            if (next + 1 == argc) {
                error = "Option \"--exclude\" needs a pattern!";
                return false;
            }
            arguments.excludes.push_back(NormalizedPattern(argv[++next]));
        } else {
            error = "Unknown option " + Quoted(word) + "!";
            return false;
        }
    }
    if (argc == 1 || arguments.help) {
        arguments.help = true;
        return true;
    }
    if (operands.size() > 2) {
        error = "Unexpected argument " + Quoted(operands[2]) + " after DIR and OUTPUT.rbd!";
        return false;
    }
    if (operands.size() < 2) {
        error = operands.empty() ? "No DIR or OUTPUT.rbd given!" : "No OUTPUT.rbd given!";
        return false;
    }
    arguments.dir = operands[0];
    arguments.output = operands[1];
    return true;
}

void PrintUsage(FILE *stream) {
    std::fputs(usage, stream);
}

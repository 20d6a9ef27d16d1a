#include "arguments.h"

#include "../../src/package/member_pattern.h"

#include <cstring>

namespace {

const char usage[] =
    "Usage: rbdpack [--exclude PATTERN]... DIR OUTPUT.rbd\n"
    "  or:  rbdpack --update [OPTION]... PACKAGE DIR\n"
    "  or:  rbdpack --add [-n] PACKAGE FILE PATH\n"
    "  or:  rbdpack --delete [-n] PACKAGE PATTERN...\n"
    "  or:  rbdpack --rename [-n] PACKAGE OLD NEW\n"
    "Writes the files under DIR into the RBD package OUTPUT.rbd; kestrun\n"
    "extracts them again into a directory named after the package.\n"
    "The other forms change PACKAGE in place, at once, and keep every record\n"
    "they don't change byte for byte:\n"
    "      --update           files under DIR replace the entries of the same path\n"
    "                         whose bytes differ; new files are added\n"
    "      --add              FILE becomes the entry PATH (added, or replaced in\n"
    "                         place)\n"
    "      --delete           remove every entry that a PATTERN matches, as kestrun\n"
    "                         matches MEMBERs: naming a group takes all below it\n"
    "      --rename           give the entry OLD the path NEW\n"
    "Each prints a line for each change, then one line of counts.\n"
    "\n"
    "      --exclude PATTERN  leave out the files and directories whose path under\n"
    "                         DIR matches PATTERN (*, ?, [...]), such as 'build'\n"
    "                         or '*.o'; may be given more than once\n"
    "  -L, --dereference      follow symbolic links under DIR, as tar -h does\n"
    "      --delete-missing   with --update: also remove the entries whose path\n"
    "                         has no file under DIR (and no --exclude matches)\n"
    "  -n, --dry-run          print the changes an edit would make, change nothing\n"
    "  -h, --help             print this help\n"
    "      --                 end the options\n"
    "\n"
    "Paths are those that kestrun -l shows. Exit status: 0 when done, 1 after\n"
    "an error, with the package as it was.\n"
    "A package keeps the names and bytes of files alone: no modes, times, owners,\n"
    "links or empty directories.\n";

const char kExcludeAssignment[] = "--exclude=";

struct ModeWord {
    const char *word;
    PackMode mode;
};

const ModeWord kModeWords[] = {{"--update", PackMode::kUpdate},
                               {"--add", PackMode::kAdd},
                               {"--delete", PackMode::kDelete},
                               {"--rename", PackMode::kRename}};

std::string Quoted(const char *word) {
    return std::string("\"") + word + "\"";
}

// What the mode's operands are called, and how many it takes (at least,
// when `more` is set).
struct Operands {
    const char *names[3];
    size_t count;
    bool more;
};

Operands OperandsOf(PackMode mode) {
    switch (mode) {
    case PackMode::kUpdate:
        return {{"PACKAGE", "DIR", nullptr}, 2, false};
    case PackMode::kAdd:
        return {{"PACKAGE", "FILE", "PATH"}, 3, false};
    case PackMode::kDelete:
        return {{"PACKAGE", "PATTERN", nullptr}, 2, true};
    case PackMode::kRename:
        return {{"PACKAGE", "OLD", "NEW"}, 3, false};
    case PackMode::kCreate:
        break;
    }
    return {{"DIR", "OUTPUT.rbd", nullptr}, 2, false};
}

// "DIR and OUTPUT.rbd", "PACKAGE, FILE and PATH".
std::string Listed(const Operands &operands, size_t from) {
    std::string listed;
    for (size_t i = from; i < operands.count; ++i) {
        listed += i == from ? "" : i + 1 == operands.count ? " and " : ", ";
        listed += operands.names[i];
    }
    return listed;
}

bool CheckOperands(const PackArguments &arguments, std::string &error) {
    Operands wanted = OperandsOf(arguments.mode);
    size_t given = arguments.operands.size();
    if (given > wanted.count && !wanted.more) {
        error = "Unexpected argument " + Quoted(arguments.operands[wanted.count]) + " after " +
                Listed(wanted, 0) + "!";
        return false;
    }
    if (given < wanted.count) {
        // Today's words for the packing form: "No DIR or OUTPUT.rbd given!".
        std::string missing = Listed(wanted, given);
        size_t and_at = missing.rfind(" and ");
        if (and_at != std::string::npos) {
            missing.replace(and_at, 5, " or ");
        }
        error = "No " + missing + " given!";
        return false;
    }
    return true;
}

// Options that only some forms take.
bool CheckOptions(const PackArguments &arguments, std::string &error) {
    bool reads_tree = arguments.mode == PackMode::kCreate || arguments.mode == PackMode::kUpdate;
    if (!reads_tree && !arguments.excludes.empty()) {
        error = "Option \"--exclude\" goes with packing or --update only!";
    } else if (!reads_tree && arguments.dereference) {
        error = "Option \"--dereference\" goes with packing or --update only!";
    } else if (arguments.delete_missing && arguments.mode != PackMode::kUpdate) {
        error = "Option \"--delete-missing\" goes with --update only!";
    } else if (arguments.dry_run && arguments.mode == PackMode::kCreate) {
        error = "Option \"--dry-run\" goes with --update, --add, --delete or --rename only!";
    }
    return error.empty();
}

// Takes `word` when it names a form; false for any other word. A second
// form is a mistake, in `error`.
bool TakeMode(const char *word, PackArguments &arguments, const char *&mode_word,
              std::string &error) {
    for (const ModeWord &mode : kModeWords) {
        if (std::strcmp(word, mode.word) != 0) {
            continue;
        }
        if (mode_word != nullptr && std::strcmp(mode_word, word) != 0) {
            error = "Options " + Quoted(mode_word) + " and " + Quoted(word) +
                    " can't be given together!";
        }
        mode_word = word;
        arguments.mode = mode.mode;
        return true;
    }
    return false;
}

// Takes the option `word` (at argv[next]); false, with `error`, for a word
// that is no option or lacks its value.
bool TakeOption(int argc, char **argv, int &next, PackArguments &arguments, const char *&mode_word,
                std::string &error) {
    const char *word = argv[next];
    if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0) {
        arguments.help = true;
    } else if (std::strcmp(word, "-n") == 0 || std::strcmp(word, "--dry-run") == 0) {
        arguments.dry_run = true;
    } else if (std::strcmp(word, "-L") == 0 || std::strcmp(word, "--dereference") == 0) {
        arguments.dereference = true;
    } else if (std::strcmp(word, "--delete-missing") == 0) {
        arguments.delete_missing = true;
    } else if (std::strncmp(word, kExcludeAssignment, sizeof kExcludeAssignment - 1) == 0) {
        arguments.excludes.push_back(NormalizedPattern(word + sizeof kExcludeAssignment - 1));
    } else if (std::strcmp(word, "--exclude") == 0) {
        if (next + 1 == argc) {
            error = "Option \"--exclude\" needs a pattern!";
            return false;
        }
        arguments.excludes.push_back(NormalizedPattern(argv[++next]));
    } else if (!TakeMode(word, arguments, mode_word, error)) {
        error = "Unknown option " + Quoted(word) + "!";
        return false;
    }
    return error.empty();
}

} // namespace

bool ParseArguments(int argc, char **argv, PackArguments &arguments, std::string &error) {
    arguments = PackArguments{};
    const char *mode_word = nullptr;
    bool options_open = true;
    for (int next = 1; next < argc; ++next) {
        const char *word = argv[next];
        if (!options_open || word[0] != '-' || word[1] == '\0') {
            arguments.operands.push_back(word);
        } else if (std::strcmp(word, "--") == 0) {
            options_open = false;
        } else if (!TakeOption(argc, argv, next, arguments, mode_word, error)) {
            return false;
        }
    }
    if (argc == 1 || arguments.help) {
        arguments.help = true;
        return true;
    }
    return CheckOperands(arguments, error) && CheckOptions(arguments, error);
}

void PrintUsage(FILE *stream) {
    std::fputs(usage, stream);
}

#include "options.h"

#include <cstring>

namespace {

const char kDirectoryPrefix[] = "--directory=";

bool Is(const char *word, const char *short_form, const char *long_form) {
    return std::strcmp(word, short_form) == 0 || std::strcmp(word, long_form) == 0;
}

bool IsDirectoryAssignment(const char *word) {
    return std::strncmp(word, kDirectoryPrefix, sizeof kDirectoryPrefix - 1) == 0;
}

std::string Quoted(const char *word) {
    return std::string("\"") + word + "\"";
}

// What the options chose so far, with the words that chose it, for the
// messages about options that don't go together.
struct RBDChoice {
    RBDOptions *options;
    const char *action_word;
    const char *directory_word;
    std::string *error;
};

bool ChooseAction(RBDChoice &choice, RBDEntryAction action, const char *word) {
    RBDEntryAction current = choice.options->action;
    // --json turns a listing into JSON, and -l after --json keeps it JSON.
    bool listing = (current == RBD_ACTION_LIST || current == RBD_ACTION_JSON) &&
                   (action == RBD_ACTION_LIST || action == RBD_ACTION_JSON);
    if (choice.action_word != nullptr && current != action && !listing) {
        *choice.error = "Options " + Quoted(choice.action_word) + " and " + Quoted(word) +
                        " cannot be used together!";
        return false;
    }
    if (!(listing && current == RBD_ACTION_JSON)) {
        choice.options->action = action;
    }
    choice.action_word = word;
    return true;
}

// Takes one option word (and the directory after -C); `next` is the index of
// the word after it. False on an unknown option or a missing directory.
bool TakeOption(RBDChoice &choice, int argc, char **argv, int &next) {
    const char *word = argv[next++];
    RBDOptions &options = *choice.options;
    if (Is(word, "-l", "--list")) {
        return ChooseAction(choice, RBD_ACTION_LIST, word);
    }
    if (std::strcmp(word, "--json") == 0) {
        return ChooseAction(choice, RBD_ACTION_JSON, word);
    }
    if (Is(word, "-t", "--test")) {
        return ChooseAction(choice, RBD_ACTION_TEST, word);
    }
    if (Is(word, "-i", "--info")) {
        return ChooseAction(choice, RBD_ACTION_INFO, word);
    }
    if (Is(word, "-O", "--to-stdout")) {
        return ChooseAction(choice, RBD_ACTION_TO_STDOUT, word);
    }
    if (Is(word, "-q", "--quiet")) {
        options.quiet = true;
    } else if (Is(word, "-h", "--help")) {
        options.help = true;
    } else if (Is(word, "-V", "--version")) {
        options.version = true;
    } else if (IsDirectoryAssignment(word)) {
        options.output_dir = word + sizeof kDirectoryPrefix - 1;
        choice.directory_word = "--directory";
    } else if (Is(word, "-C", "--directory")) {
        if (next == argc) {
            *choice.error = "Option " + Quoted(word) + " needs a directory!";
            return false;
        }
        options.output_dir = argv[next++];
        choice.directory_word = word;
    } else {
        *choice.error = "Unknown option " + Quoted(word) + "!";
        return false;
    }
    if (options.output_dir != nullptr && *options.output_dir == '\0') {
        *choice.error = "Option " + Quoted(choice.directory_word) + " needs a directory!";
        return false;
    }
    return true;
}

bool CheckCombination(const RBDChoice &choice) {
    const RBDOptions &options = *choice.options;
    if (options.output_dir != nullptr && options.action != RBD_ACTION_EXTRACT) {
        *choice.error = "Options " + Quoted(choice.directory_word) + " and " +
                        Quoted(choice.action_word) + " cannot be used together!";
        return false;
    }
    if (options.package == nullptr) {
        *choice.error = "No package given!";
        return false;
    }
    if (options.action == RBD_ACTION_INFO && !options.patterns.empty()) {
        *choice.error = "Option " + Quoted(choice.action_word) + " takes no member patterns!";
        return false;
    }
    return true;
}

} // namespace

bool RBD_IsOptionWord(const char *word) {
    static const char *const words[] = {
        "-l", "--list",      "--json", "-t",          "-i",     "--info",
        "-C", "--directory", "-O",     "--to-stdout", "-q",     "--quiet",
        "-h", "--help",      "-V",     "--version",   "--test", "--"};
    for (const char *option : words) {
        if (std::strcmp(word, option) == 0) {
            return true;
        }
    }
    return IsDirectoryAssignment(word);
}

bool RBD_ParseOptions(int argc, char **argv, RBDOptions &options, std::string &error) {
    options = RBDOptions{};
    RBDChoice choice{&options, nullptr, nullptr, &error};
    int next = 1;
    while (next < argc && argv[next][0] == '-' && argv[next][1] != '\0') {
        if (std::strcmp(argv[next], "--") == 0) {
            ++next;
            break;
        }
        if (!TakeOption(choice, argc, argv, next)) {
            return false;
        }
    }
    if (next < argc) {
        options.package = argv[next++];
    }
    options.patterns.assign(argv + next, argv + argc);
    return options.help || options.version || CheckCombination(choice);
}

#include "options.h"

#include <cstring>

namespace {

enum RBDOptionId {
    OPTION_LIST,
    OPTION_JSON,
    OPTION_TEST,
    OPTION_INFO,
    OPTION_TO_STDOUT,
    OPTION_EXTRACT,
    OPTION_QUIET,
    OPTION_VERBOSE,
    OPTION_HELP,
    OPTION_VERSION,
    OPTION_KEEP,
    OPTION_DIRECTORY,
    OPTION_OUTPUT,
    OPTION_EXCLUDE,
    OPTION_PROGRESS,
    OPTION_NO_PROGRESS,
    OPTION_SHA256,
    OPTION_FILE,
    OPTION_DIFF,
    OPTION_JOBS,
};

struct RBDOptionWord {
    RBDOptionId id;
    char letter; // 0: long form only
    const char *long_name;
    const char *value; // what the value is, for options that take one; else null
};

const RBDOptionWord kOptions[] = {
    {OPTION_LIST, 'l', "--list", nullptr},
    {OPTION_JSON, 0, "--json", nullptr},
    {OPTION_TEST, 't', "--test", nullptr},
    {OPTION_INFO, 'i', "--info", nullptr},
    {OPTION_TO_STDOUT, 'O', "--to-stdout", nullptr},
    {OPTION_EXTRACT, 'x', "--extract", nullptr},
    {OPTION_QUIET, 'q', "--quiet", nullptr},
    {OPTION_VERBOSE, 'v', "--verbose", nullptr},
    {OPTION_HELP, 'h', "--help", nullptr},
    {OPTION_VERSION, 'V', "--version", nullptr},
    {OPTION_KEEP, 'k', "--keep-old-files", nullptr},
    {OPTION_DIRECTORY, 'C', "--directory", "a directory"},
    {OPTION_OUTPUT, 'd', "--output", "a directory"},
    {OPTION_EXCLUDE, 0, "--exclude", "a pattern"},
    {OPTION_PROGRESS, 0, "--progress", nullptr},
    {OPTION_NO_PROGRESS, 0, "--no-progress", nullptr},
    {OPTION_SHA256, 0, "--sha256", nullptr},
    {OPTION_FILE, 'f', "--file", "a package"},
    {OPTION_DIFF, 0, "--diff", "a package or a directory"},
    {OPTION_JOBS, 'j', "--jobs", "a number of workers"},
};

const RBDOptionWord *ByLetter(char letter) {
    for (const RBDOptionWord &option : kOptions) {
        if (option.letter != 0 && option.letter == letter) {
            return &option;
        }
    }
    return nullptr;
}

// The long option `word` names, alone or as "--name=value" (then `value`
// points past the "=").
const RBDOptionWord *ByLongName(const char *word, const char **value) {
    for (const RBDOptionWord &option : kOptions) {
        size_t length = std::strlen(option.long_name);
        if (std::strncmp(word, option.long_name, length) != 0) {
            continue;
        }
        if (word[length] == '\0') {
            *value = nullptr;
            return &option;
        }
        if (word[length] == '=' && option.value != nullptr) {
            *value = word + length + 1;
            return &option;
        }
    }
    return nullptr;
}

// "-lq", "-qC": known letters only, and one that takes a value only last.
bool IsBundle(const char *word) {
    if (word[0] != '-' || word[1] == '\0' || word[1] == '-') {
        return false;
    }
    for (const char *c = word + 1; *c != '\0'; ++c) {
        const RBDOptionWord *option = ByLetter(*c);
        if (option == nullptr || (option->value != nullptr && c[1] != '\0')) {
            return false;
        }
    }
    return true;
}

std::string Quoted(const std::string &word) {
    return "\"" + word + "\"";
}

std::string TwoPackages(const char *first, const char *second) {
    return "Two packages given, " + Quoted(first) + " and " + Quoted(second) + "; give one!";
}

// -f PACKAGE: the package named among the options, as tar users do.
bool NamePackage(RBDOptions &options, const std::string &word, const char *value,
                 std::string &error) {
    if (options.package != nullptr) {
        error = TwoPackages(options.package, value);
        return false;
    }
    if (std::strcmp(value, "-") == 0) {
        error = "Option " + Quoted(word) +
                " needs a package file, not \"-\": a package is read at many offsets, so it "
                "can't come from standard input!";
        return false;
    }
    options.package = value;
    return true;
}

// What the options chose so far, with the words that chose it, for the
// messages about options that don't go together.
struct RBDChoice {
    RBDOptions *options;
    std::string action_word;
    std::string extraction_word; // the first of -C, -d and -k
    std::string sha256_word;
    std::string *error;
};

bool ChooseAction(RBDChoice &choice, RBDEntryAction action, const std::string &word) {
    RBDEntryAction current = choice.options->action;
    // --json turns a listing into JSON, and -l after --json keeps it JSON.
    bool listing = (current == RBD_ACTION_LIST || current == RBD_ACTION_JSON) &&
                   (action == RBD_ACTION_LIST || action == RBD_ACTION_JSON);
    if (!choice.action_word.empty() && current != action && !listing) {
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

void NoteExtractionOnly(RBDChoice &choice, const std::string &word) {
    if (choice.extraction_word.empty()) {
        choice.extraction_word = word;
    }
}

// Applies one option, as `word` ("-l", "--list") with its `value` (null for
// options without one).
bool Apply(RBDChoice &choice, const RBDOptionWord &option, const std::string &word,
           const char *value) {
    RBDOptions &options = *choice.options;
    if (option.value != nullptr && (value == nullptr || *value == '\0')) {
        *choice.error = "Option " + Quoted(word) + " needs " + option.value + "!";
        return false;
    }
    switch (option.id) {
    case OPTION_LIST:
        return ChooseAction(choice, RBD_ACTION_LIST, word);
    case OPTION_JSON:
        return ChooseAction(choice, RBD_ACTION_JSON, word);
    case OPTION_TEST:
        return ChooseAction(choice, RBD_ACTION_TEST, word);
    case OPTION_INFO:
        return ChooseAction(choice, RBD_ACTION_INFO, word);
    case OPTION_TO_STDOUT:
        return ChooseAction(choice, RBD_ACTION_TO_STDOUT, word);
    case OPTION_EXTRACT:
        return ChooseAction(choice, RBD_ACTION_EXTRACT, word);
    case OPTION_QUIET:
    case OPTION_VERBOSE:
        options.quiet = option.id == OPTION_QUIET;
        break;
    case OPTION_HELP:
        options.help = true;
        break;
    case OPTION_VERSION:
        options.version = true;
        break;
    case OPTION_KEEP:
        options.keep_existing = true;
        NoteExtractionOnly(choice, word);
        break;
    case OPTION_DIRECTORY:
        options.base_dir = value;
        NoteExtractionOnly(choice, word);
        break;
    case OPTION_OUTPUT:
        options.output_root = value;
        NoteExtractionOnly(choice, word);
        break;
    case OPTION_EXCLUDE:
        options.excludes.push_back(value);
        break;
    case OPTION_PROGRESS:
    case OPTION_NO_PROGRESS:
        options.progress = option.id == OPTION_PROGRESS ? RBD_PROGRESS_ON : RBD_PROGRESS_OFF;
        break;
    case OPTION_SHA256:
        options.sha256 = true;
        choice.sha256_word = word;
        break;
    case OPTION_FILE:
        // There is a value, as checked above; the analyser can't tell.
        return value != nullptr && NamePackage(options, word, value, *choice.error);
    case OPTION_DIFF:
        options.diff_other = value;
        return ChooseAction(choice, RBD_ACTION_DIFF, word);
    case OPTION_JOBS:
        if (value == nullptr || !RBD_ParseJobs(value, options.jobs)) {
            *choice.error = "Option " + Quoted(word) +
                            " needs a number of workers from 1 up, not " +
                            Quoted(value != nullptr ? value : "") + "!";
            return false;
        }
        break;
    }
    return true;
}

// Takes one option word (and the value after it, for an option that takes
// one); `next` is the index of the word after them.
bool TakeOptionWord(RBDChoice &choice, int argc, char **argv, int &next) {
    const char *word = argv[next++];
    if (word[1] == '-') {
        const char *value = nullptr;
        const RBDOptionWord *option = ByLongName(word, &value);
        if (option == nullptr) {
            *choice.error = "Unknown option " + Quoted(word) + "!";
            return false;
        }
        if (option->value != nullptr && value == nullptr && next < argc) {
            value = argv[next++];
        }
        return Apply(choice, *option, option->long_name, value);
    }
    if (!IsBundle(word)) {
        *choice.error = "Unknown option " + Quoted(word) + "!";
        return false;
    }
    for (const char *c = word + 1; *c != '\0'; ++c) {
        const RBDOptionWord &option = *ByLetter(*c);
        const char *value = nullptr;
        if (option.value != nullptr && next < argc) {
            value = argv[next++];
        }
        if (!Apply(choice, option, std::string("-") + *c, value)) {
            return false;
        }
    }
    return true;
}

bool CheckCombination(const RBDChoice &choice) {
    const RBDOptions &options = *choice.options;
    std::string action_word = choice.action_word;
    if (!choice.extraction_word.empty() && options.action != RBD_ACTION_EXTRACT) {
        *choice.error = "Options " + Quoted(choice.extraction_word) + " and " +
                        Quoted(action_word) + " cannot be used together!";
        return false;
    }
    bool hashing = options.action == RBD_ACTION_LIST || options.action == RBD_ACTION_JSON ||
                   options.action == RBD_ACTION_TEST;
    if (options.sha256 && !hashing) {
        *choice.error = action_word.empty() ? "Option \"--sha256\" needs -l, --json or -t!"
                                            : "Options " + Quoted(choice.sha256_word) + " and " +
                                                  Quoted(action_word) + " cannot be used together!";
        return false;
    }
    if (options.package == nullptr) {
        *choice.error = "No package given!";
        return false;
    }
    if (options.action == RBD_ACTION_INFO &&
        (!options.patterns.empty() || !options.excludes.empty())) {
        *choice.error = "Option " + Quoted(action_word) + " takes no member patterns!";
        return false;
    }
    return true;
}

} // namespace

namespace {

const unsigned long kMostJobs = 1000000;

} // namespace

bool RBD_ParseJobs(const char *text, unsigned &jobs) {
    unsigned long number = 0;
    const char *c = text;
    for (; *c >= '0' && *c <= '9'; ++c) {
        // More than the most workers is as good as the most.
        number = number * 10 + static_cast<unsigned long>(*c - '0');
        if (number > kMostJobs) {
            number = kMostJobs;
        }
    }
    if (c == text || *c != '\0' || number == 0) {
        return false;
    }
    jobs = static_cast<unsigned>(number);
    return true;
}

bool RBD_IsOptionWord(const char *word) {
    const char *value = nullptr;
    return std::strcmp(word, "--") == 0 || ByLongName(word, &value) != nullptr || IsBundle(word);
}

bool RBD_CheckMemberWords(const std::vector<const char *> &words, std::string &error) {
    for (const char *word : words) {
        if (RBD_IsOptionWord(word)) {
            error = "Option " + Quoted(word) + " comes after the package; options go before it!";
            return false;
        }
    }
    return true;
}

namespace {

// The same with -f, where the member patterns follow the options directly.
bool CheckMembersAfterOptions(const std::vector<const char *> &words, std::string &error) {
    for (const char *word : words) {
        if (RBD_IsOptionWord(word)) {
            error = "Option " + Quoted(word) +
                    " comes after the member patterns; options go before them!";
            return false;
        }
    }
    return true;
}

} // namespace

bool RBD_ParseOptions(int argc, char **argv, RBDOptions &options, std::string &error) {
    options = RBDOptions{};
    RBDChoice choice{&options, "", "", "", &error};
    int next = 1;
    bool ended = false; // by "--", after which comes the package
    while (next < argc && argv[next][0] == '-' && argv[next][1] != '\0') {
        if (std::strcmp(argv[next], "--") == 0) {
            ++next;
            ended = true;
            break;
        }
        if (!TakeOptionWord(choice, argc, argv, next)) {
            return false;
        }
    }
    // With -f the words after the options are member patterns, but for the
    // one word "--" announces as the package.
    bool named_by_option = options.package != nullptr;
    if (named_by_option && ended && next < argc) {
        error = TwoPackages(options.package, argv[next]);
        return false;
    }
    if (!named_by_option && next < argc) {
        options.package = argv[next++];
    }
    options.patterns.assign(argv + next, argv + argc);
    if (named_by_option ? !CheckMembersAfterOptions(options.patterns, error)
                        : !RBD_CheckMemberWords(options.patterns, error)) {
        return false;
    }
    return options.help || options.version || CheckCombination(choice);
}

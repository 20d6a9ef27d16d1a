#include "run.h"

#include "../hostkit/hostkit.h"
#include "contents.h"
#include "entries/entry_action.h"
#include "entries/entry_check.h"
#include "entries/entry_listing.h"
#include "entries/members.h"
#include "entries/writer.h"
#include "interrupt.h"
#include "loader.h"
#include "options.h"
#include "output/messages.h"
#include "output/shown_text.h"
#include "output/status_line.h"
#include "output/streams.h"
#include "package_name.h"
#include "run_mode.h"
#include "usage.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

// A mistake on the command line: its error and where to read more, not the
// whole usage.
RBDOptions ParsedOrPointer(int argc, char **argv) {
    RBDOptions options;
    std::string error;
    if (!RBD_ParseOptions(argc, argv, options, error)) {
        NoteTerminals(stderr);
        std::fprintf(stderr, "ERROR: %s\n", ShownInMessage(error.c_str()));
        std::fprintf(stderr, "Try \"kestrun --help\" for more information.\n");
        RBD_Exit(1);
    }
    return options;
}

RBDProgress ChooseProgress(const RBDOptions &options) {
    bool shows = options.action == RBD_ACTION_EXTRACT || options.action == RBD_ACTION_TEST ||
                 options.action == RBD_ACTION_TO_STDOUT;
    bool terminal = isatty(2) != 0;
    if (!shows || options.progress == RBD_PROGRESS_OFF) {
        return RBD_PROGRESS_NONE;
    }
    if (options.progress == RBD_PROGRESS_ON) {
        return terminal ? RBD_PROGRESS_TERMINAL : RBD_PROGRESS_LINES;
    }
    return terminal && !options.quiet ? RBD_PROGRESS_TERMINAL : RBD_PROGRESS_NONE;
}

void SetRunMode(const RBDOptions &options) {
    run_mode.action = options.action;
    run_mode.options = true;
    run_mode.quiet = options.quiet;
    // Quiet means warnings and errors only.
    run_mode.hide_progress = options.action != RBD_ACTION_EXTRACT || options.quiet;
    run_mode.keep_existing = options.keep_existing;
    run_mode.sha256 = options.sha256;
    run_mode.progress = ChooseProgress(options);
    // Every mode but extraction prints its product on standard output (a
    // list, a report, entry bytes): losing it fails the run. Extraction's
    // product is the tree; its progress lines may be lost.
    bool product = options.action != RBD_ACTION_EXTRACT;
    RBD_SetUpStreams(true, product, options.action == RBD_ACTION_TO_STDOUT);
}

void UseOutputDirectory(const char *dir) {
    if (dir != nullptr && !RBD_SetOutputBase(dir)) {
        std::string reason = hkGetError();
        RBD_Fatal("ERROR: Failed to find directory \"%s\": %s, aborting!\n", ShownInMessage(dir),
                  reason.c_str());
    }
}

bool IsAbsolute(const std::string &path) {
#ifdef _WIN32
    bool drive = path.size() >= 2 && path[1] == ':';
    return drive || (!path.empty() && (path[0] == '/' || path[0] == '\\'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

// -d DIR: the root DIR, below -C's directory when it is relative. The lines
// show it as given, without trailing slashes.
void UseOutputRoot(const RBDOptions &options) {
    if (options.output_root == nullptr) {
        return;
    }
    static std::string root;
    static std::string shown;
    root = options.output_root;
    if (options.base_dir != nullptr && !IsAbsolute(root)) {
        root = std::string(options.base_dir) + "/" + root;
    }
    shown = options.output_root;
    while (!shown.empty() && (shown.back() == '/' || shown.back() == '\\')) {
        shown.pop_back();
    }
    RBD_SetOutputRoot(root.c_str(), shown.c_str());
}

// What a mode prints once the walk is over.
void Conclude(const RBDPackage *pack) {
    switch (run_mode.action) {
    case RBD_ACTION_EXTRACT:
        if (!run_mode.hide_progress) {
            std::puts("Done!");
        }
        break;
    case RBD_ACTION_TEST:
        RBD_PrintTestSummary();
        break;
    case RBD_ACTION_INFO:
        RBD_ListContents(pack);
        break;
    case RBD_ACTION_JSON:
        RBD_PrintJsonSummary();
        break;
    case RBD_ACTION_LIST:
    case RBD_ACTION_TO_STDOUT:
        break;
    }
}

// Option mode's words for a package that can't be found: the system's
// reason, and a directory called one.
[[noreturn]] void FailToFind(const char *input) {
    std::string reason = hkGetError();
    hkDirectory *dir = hkOpenDirectory(input);
    if (dir != nullptr) {
        hkCloseDirectory(dir);
        RBD_Fatal("ERROR: \"%s\" is a directory, not an RBD package, aborting!\n",
                  ShownInMessage(input));
    }
    RBD_Fatal("ERROR: Failed to find \"%s\": %s, aborting!\n", ShownInMessage(input),
              reason.c_str());
}

} // namespace

void RBD_PreparePackage(const char *input, bool names_root) {
    if (!hkFileExists(input)) {
        if (run_mode.options) {
            FailToFind(input);
        }
        std::string reason = hkGetError();
        RBD_Fatal("ERROR: Failed to find \"%s\", aborting!\n%s\n", ShownInMessage(input),
                  reason.c_str());
    }
    const char *filename = hkGetFileName(input);
    if (!SetPackageName(filename) && names_root) {
        RBD_Fatal("ERROR: Invalid package name \"%s\", aborting!\n", ShownInMessage(filename));
    }
}

void RBD_RunWithOptions(int argc, char **argv) {
    RBDOptions options = ParsedOrPointer(argc, argv);
    if (options.help) {
        RBD_PrintUsage(stdout);
        RBD_Exit(0);
    }
    if (options.version) {
        RBD_PrintVersion();
        RBD_Exit(0);
    }
    SetRunMode(options);
    RBD_ChooseMembers(options.patterns, options.excludes);
    // With -d the root is named by the user, not after the package.
    RBD_PreparePackage(options.package, options.output_root == nullptr);
    UseOutputDirectory(options.base_dir);
    UseOutputRoot(options);
    if (options.action == RBD_ACTION_EXTRACT) {
        RBD_RemoveCutEntryOnSignals();
    }

    RBDPackage *pack = RBD_LoadPackage(options.package);
    RBD_EndStatus();
    RBD_WarnUnmatchedMembers();
    Conclude(pack);
    RBD_FreePackage(pack);
    RBD_FinishProduct();
    RBD_Exit(warnings_printed ? 2 : 0);
}

#include "run.h"

#include "../extract/worker_count.h"
#include "../hostkit/hostkit.h"
#include "../package/root_name.h"
#include "contents.h"
#include "diff/diff.h"
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
#include "usage.h"

#include <cstdio>
#include <cstdlib>
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

void SetRunMode(RBDRun &run, const RBDOptions &options) {
    RBDRunMode &mode = run.mode;
    mode.action = options.action;
    mode.options = true;
    mode.quiet = options.quiet;
    // Quiet means warnings and errors only.
    mode.hide_progress = options.action != RBD_ACTION_EXTRACT || options.quiet;
    mode.keep_existing = options.keep_existing;
    mode.sha256 = options.sha256;
    mode.progress = ChooseProgress(options);
    // Every mode but extraction prints its product on standard output (a
    // list, a report, entry bytes): losing it fails the run. Extraction's
    // product is the tree; its progress lines may be lost.
    bool product = options.action != RBD_ACTION_EXTRACT;
    RBD_SetUpStreams(run.out, true, product, options.action == RBD_ACTION_TO_STDOUT);
}

void UseOutputDirectory(RBDRun &run, const char *dir) {
    if (dir != nullptr && !RBD_SetOutputBase(run.destination, dir)) {
        std::string reason = hkGetError();
        RBD_Fatal(run.out, "ERROR: Failed to find directory \"%s\": %s, aborting!\n",
                  ShownInMessage(dir), reason.c_str());
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
void UseOutputRoot(RBDDestination &destination, const RBDOptions &options) {
    if (options.output_root == nullptr) {
        return;
    }
    std::string &root = destination.root_dir;
    root = options.output_root;
    if (options.base_dir != nullptr && !IsAbsolute(root)) {
        root = std::string(options.base_dir) + "/" + root;
    }
    std::string &shown = destination.shown_root_dir;
    shown = options.output_root;
    while (!shown.empty() && (shown.back() == '/' || shown.back() == '\\')) {
        shown.pop_back();
    }
    destination.root_named = true;
}

// What a mode prints once the walk is over.
void Conclude(const RBDRun &run, const RBDPackage *pack) {
    switch (run.mode.action) {
    case RBD_ACTION_EXTRACT:
        if (!run.mode.hide_progress) {
            std::puts("Done!");
        }
        break;
    case RBD_ACTION_TEST:
        RBD_PrintTestSummary(run);
        break;
    case RBD_ACTION_INFO:
        RBD_ListContents(pack);
        break;
    case RBD_ACTION_JSON:
        RBD_PrintJsonSummary(run);
        break;
    case RBD_ACTION_LIST:
    case RBD_ACTION_TO_STDOUT:
    case RBD_ACTION_DIFF:
        break;
    }
}

// Option mode's words for a package that can't be found: the system's
// reason, and a directory called one.
[[noreturn]] void FailToFind(RBDStreams &out, const char *input) {
    std::string reason = hkGetError();
    hkDirectory *dir = hkOpenDirectory(input);
    if (dir != nullptr) {
        hkCloseDirectory(dir);
        RBD_Fatal(out, "ERROR: \"%s\" is a directory, not an RBD package, aborting!\n",
                  ShownInMessage(input));
    }
    RBD_Fatal(out, "ERROR: Failed to find \"%s\": %s, aborting!\n", ShownInMessage(input),
              reason.c_str());
}

} // namespace

void RBD_PreparePackage(RBDRun &run, const char *input, bool names_root) {
    if (!hkFileExists(input)) {
        if (run.mode.options) {
            FailToFind(run.out, input);
        }
        std::string reason = hkGetError();
        RBD_Fatal(run.out, "ERROR: Failed to find \"%s\", aborting!\n%s\n", ShownInMessage(input),
                  reason.c_str());
    }
    run.package.path = input;
    const char *filename = hkGetFileName(input);
    if (!RBD_RootNameOf(filename, run.package.root_name) && names_root) {
        RBD_Fatal(run.out, "ERROR: Invalid package name \"%s\", aborting!\n",
                  ShownInMessage(filename));
    }
}

void RBD_ChooseJobs(RBDRun &run, unsigned asked) {
    unsigned jobs = asked;
    const char *text = std::getenv("KESTRUN_JOBS");
    if (jobs == 0 && text != nullptr && *text != '\0' && !RBD_ParseJobs(text, jobs)) {
        RBD_Fatal(run.out,
                  "ERROR: KESTRUN_JOBS is \"%s\", not a number of workers from 1 up, aborting!\n",
                  ShownInMessage(text));
    }
    run.mode.jobs = RBD_WorkersFor(jobs);
}

void RBD_RunWithOptions(RBDRun &run, int argc, char **argv) {
    RBDOptions options = ParsedOrPointer(argc, argv);
    if (options.help) {
        RBD_PrintUsage(stdout);
        RBD_Exit(0);
    }
    if (options.version) {
        RBD_PrintVersion();
        RBD_Exit(0);
    }
    SetRunMode(run, options);
    RBD_ChooseJobs(run, options.jobs);
    RBD_ChooseMembers(run.members, options.patterns, options.excludes);
    if (options.action == RBD_ACTION_DIFF) {
        RBD_RunDiff(run, options);
    }
    // With -d the root is named by the user, not after the package.
    RBD_PreparePackage(run, options.package, options.output_root == nullptr);
    UseOutputDirectory(run, options.base_dir);
    UseOutputRoot(run.destination, options);
    if (options.action == RBD_ACTION_EXTRACT) {
        RBD_RemoveCutEntryOnSignals(run.destination.extraction);
    }

    RBDPackage *pack = RBD_LoadPackage(run);
    RBD_EndStatus(run.out.status);
    RBD_WarnUnmatchedMembers(run.members, run.out);
    Conclude(run, pack);
    RBD_FreePackage(pack);
    RBD_FinishProduct(run.out);
    RBD_Exit(run.out.warned ? 2 : 0);
}

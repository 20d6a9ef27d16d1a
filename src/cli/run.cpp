#include "run.h"

#include "../extract/entry_action.h"
#include "../extract/entry_check.h"
#include "../extract/entry_listing.h"
#include "../extract/members.h"
#include "../extract/writer.h"
#include "../hostkit/hostkit.h"
#include "../output/messages.h"
#include "../output/streams.h"
#include "../package/contents.h"
#include "../package/loader.h"
#include "../package_name.h"
#include "../run_mode.h"
#include "options.h"
#include "usage.h"

#include <cstdio>

namespace {

RBDOptions ParsedOrUsage(int argc, char **argv) {
    RBDOptions options;
    std::string error;
    if (!RBD_ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        RBD_PrintUsage(stderr);
        RBD_Exit(1);
    }
    return options;
}

void SetRunMode(const RBDOptions &options) {
    run_mode.action = options.action;
    run_mode.quiet = options.quiet;
    run_mode.hide_progress = options.action != RBD_ACTION_EXTRACT;
    // The modes whose product is data keep messages out of its way.
    bool data = options.action == RBD_ACTION_LIST || options.action == RBD_ACTION_JSON ||
                options.action == RBD_ACTION_TO_STDOUT;
    RBD_SetUpStreams(data, options.action == RBD_ACTION_TO_STDOUT);
}

void UseOutputDirectory(const char *dir) {
    if (dir != nullptr && !RBD_SetOutputBase(dir)) {
        RBD_Fatal("ERROR: Failed to find directory \"%s\", aborting!\n", dir);
    }
}

// What a mode prints once the walk is over.
void Conclude(const RBDPackage *pack) {
    switch (run_mode.action) {
    case RBD_ACTION_EXTRACT:
        std::puts("Done!");
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

} // namespace

void RBD_PreparePackage(const char *input, int argc, char **argv) {
    if (!hkFileExists(input)) {
        RBD_Fatal("ERROR: Failed to find \"%s\", aborting!\n%s\n", input, hkGetError());
    }
    const char *filename = hkGetFileName(input);
    if (!SetPackageName(filename)) {
        RBD_Fatal("ERROR: Invalid package name \"%s\", aborting!\n", filename);
    }
    hkInitialize(argc, argv);
}

RBDPackage *RBD_WalkPackage(const char *input) {
    RBDPackage *pack = RBD_LoadPackage(input);
    if (pack == nullptr) {
        RBD_Fatal("ERROR: Failed to load RBD package \"%s\", aborting!\n", input);
    }
    return pack;
}

void RBD_RunWithOptions(int argc, char **argv) {
    RBDOptions options = ParsedOrUsage(argc, argv);
    if (options.help) {
        RBD_PrintUsage(stdout);
        RBD_Exit(0);
    }
    if (options.version) {
        RBD_PrintVersion();
        RBD_Exit(0);
    }
    SetRunMode(options);
    RBD_ChooseMembers(options.patterns);
    RBD_PreparePackage(options.package, argc, argv);
    UseOutputDirectory(options.output_dir);

    RBDPackage *pack = RBD_WalkPackage(options.package);
    RBD_WarnUnmatchedMembers();
    Conclude(pack);
    RBD_FreePackage(pack);
    RBD_FinishProduct();
    RBD_Exit(warnings_printed ? 2 : 0);
}

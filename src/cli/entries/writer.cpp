#include "writer.h"

#include "../../extract/outcome_text.h"
#include "../../types.h"
#include "../interrupt.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/status_line.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

namespace {

[[noreturn]] void StopOverBudget(RBDRun &run) {
    RBD_Fatal(run.out,
              "ERROR: Output would pass %llu bytes (64 times the package plus 1 GiB), "
              "aborting!\n",
              static_cast<unsigned long long>(run.destination.extraction.budget.limit));
}

// "Writing" or "Keeping" and the entry's path, its root first: -d's
// directory as the user named it, or the root's name.
void PrintLine(RBDRun &run, bool kept, const char *path, const char *filename) {
    if (run.mode.quiet) {
        return;
    }
    RBD_ClearStatusForStdout(run.out.status);
    const RBDDestination &destination = run.destination;
    const char *root =
        destination.root_named ? destination.shown_root_dir.c_str() : run.package.root_name;
    if (kept) {
        std::printf("Keeping \"%s/%s%s\"\n", ShownOnStdout(root), ShownOnStdout(path),
                    ShownOnStdout(filename));
    } else {
        std::printf("Writing \"%s/%s%s\"...\n", ShownOnStdout(root), ShownOnStdout(path),
                    ShownOnStdout(filename));
    }
}

// The warning for an entry that was not written whole, after its "Writing"
// line: in the classic run's words, as they always were, or in option
// mode's, which name the entry by its path under the output root (the
// warnings go to standard error, apart from the "Writing" lines, or stand
// alone with -q) and give the system's reason.
void ReportOutcome(RBDRun &run, const RBDEntryResult &result, const char *path,
                   const char *filename) {
    bool whole = result.outcome == RBD_ENTRY_WRITTEN || result.outcome == RBD_ENTRY_KEPT;
    if (whole && !result.data_missing) {
        return; // the common case, at no cost
    }
    RBDWording wording = run.mode.options ? RBD_WORDING_FULL : RBD_WORDING_CLASSIC;
    RBDOutcomeSubject entry{run.package.root_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    if (result.data_missing) {
        RBD_WordDataMissing(wording, entry, text, sizeof text);
        RBD_Warning(run.out, "WARNING: %s!\n", ShownInMessage(text));
    }
    if (result.outcome == RBD_ENTRY_OVER_BUDGET) {
        StopOverBudget(run); // the run's end, in words of its own
    }
    if (RBD_WordOutcome(wording, result, entry, text, sizeof text)) {
        RBD_Warning(run.out, "WARNING: %s!\n", ShownInMessage(text));
    }
}

// The engine's context for the entry in hand: the run, and the group path
// that the entry's lines name.
struct RBDEntryInHand {
    RBDRun *run;
    const char *group;
};

// The entry's line, once its file is made (or what stops it is known) and
// before any of its bytes or warnings; flushed before a long copy, so that
// the user sees what is being written.
void EntryBegun(void *context, const char * /*raw_group*/, const char *filename, uint32_t size,
                RBDEntryOutcome outcome) {
    const auto *entry = static_cast<RBDEntryInHand *>(context);
    PrintLine(*entry->run, outcome == RBD_ENTRY_KEPT, entry->group, filename);
    if (outcome == RBD_ENTRY_WRITTEN) {
        RBD_BeforeCopy(entry->run->out, size);
    }
}

// -d: the root is made when missing (its parent must exist) and opened as
// the user named it.
hkDirectory *OpenRoot(RBDRun &run) {
    const char *root_dir = run.destination.root_dir.c_str();
#ifdef _WIN32
    int made = _mkdir(root_dir);
#else
    int made = mkdir(root_dir, 0777);
#endif
    if (made != 0 && errno != EEXIST) {
        std::string reason = hkGetError();
        RBD_Fatal(run.out, "ERROR: Failed to make directory \"%s\": %s, aborting!\n",
                  ShownInMessage(root_dir), reason.c_str());
    }
    hkDirectory *root = hkOpenDirectory(root_dir);
    if (root == nullptr) {
        std::string reason = hkGetError();
        RBD_Fatal(run.out, "ERROR: Failed to open directory \"%s\": %s, aborting!\n",
                  ShownInMessage(root_dir), reason.c_str());
    }
    return root;
}

} // namespace

bool RBD_SetOutputBase(RBDDestination &destination, const char *dir) {
    hkDirectory *base = hkOpenDirectory(dir);
    if (base == nullptr) {
        return false;
    }
    RBD_CloseOutput(destination);
    hkCloseDirectory(destination.base);
    destination.base = base;
    return true;
}

void RBD_StartWriting(RBDRun &run) {
    RBDDestination &destination = run.destination;
    // Every mode charges the budget; only extraction needs its root.
    hkDirectory *base = destination.base;
    const char *root_name = run.package.root_name;
    if (destination.root_named && run.mode.action == RBD_ACTION_EXTRACT) {
        if (destination.root == nullptr) {
            destination.root = OpenRoot(run);
        }
        base = destination.root;
        root_name = "";
    }
    RBDExtraction &x = destination.extraction;
    RBD_StartExtraction(x, base, root_name, run.package.fd, run.package.size,
                        RBD_DefaultBudget(run.package.size));
    x.options.keep_existing = run.mode.keep_existing;
    x.options.pieces = RBD_StatusPieces(run.out.status);
    x.options.guard = RBD_HoldSignalsAround;
    x.options.entry_begun = EntryBegun;
}

void RBD_CloseOutput(RBDDestination &destination) {
    RBD_EndExtraction(destination.extraction);
}

void RBD_WriteFile(RBDRun &run, const char *raw_group, const char *group, const char *filename,
                   uint32_t offset, uint32_t size, bool safe_group) {
    // Option mode names the file that lands on disk; the classic run's lines
    // stay as they always were. The engine takes the group path as the
    // package spells it, which its limits are measured on.
    RBDEntryInHand entry{&run, run.mode.options ? group : raw_group};
    RBDExtraction &x = run.destination.extraction;
    x.options.context = &entry;
    RBDEntryResult result = RBD_ExtractEntry(x, raw_group, filename, offset, size, safe_group);
    ReportOutcome(run, result, entry.group, filename);
}

void RBD_ChargeOrStop(RBDRun &run, uint64_t size) {
    if (!RBD_ChargeOutput(run.destination.extraction.budget, size)) {
        StopOverBudget(run);
    }
}

#include "writer.h"

#include "../../extract/outcome_text.h"
#include "../../types.h"
#include "../interrupt.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/status_line.h"
#include "../package_name.h"
#include "../run_mode.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

namespace {

// The directory that holds the output root: null for the working directory,
// else the one the user named. Messages show paths relative to it.
hkDirectory *output_base;

// -d: the output root as the user named it, and as the lines show it.
const char *root_dir;
const char *shown_root_dir;
hkDirectory *root_handle;

RBDExtraction extraction;

[[noreturn]] void StopOverBudget() {
    RBD_Fatal("ERROR: Output would pass %llu bytes (64 times the package plus 1 GiB), "
              "aborting!\n",
              static_cast<unsigned long long>(extraction.budget.limit));
}

// "Writing" or "Keeping" and the entry's path, its root first.
void PrintLine(bool kept, const char *path, const char *filename) {
    if (run_mode.quiet) {
        return;
    }
    RBD_ClearStatusForStdout();
    const char *root = root_dir != nullptr ? shown_root_dir : package_name;
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
void ReportOutcome(const RBDEntryResult &result, const char *path, const char *filename) {
    bool whole = result.outcome == RBD_ENTRY_WRITTEN || result.outcome == RBD_ENTRY_KEPT;
    if (whole && !result.data_missing) {
        return; // the common case, at no cost
    }
    RBDWording wording = run_mode.options ? RBD_WORDING_FULL : RBD_WORDING_CLASSIC;
    RBDOutcomeSubject entry{package_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    if (result.data_missing) {
        RBD_WordDataMissing(wording, entry, text, sizeof text);
        RBD_Warning("WARNING: %s!\n", ShownInMessage(text));
    }
    if (result.outcome == RBD_ENTRY_OVER_BUDGET) {
        StopOverBudget(); // the run's end, in words of its own
    }
    if (RBD_WordOutcome(wording, result, entry, text, sizeof text)) {
        RBD_Warning("WARNING: %s!\n", ShownInMessage(text));
    }
}

// The group path that the lines of the entry in hand name.
struct RBDLineGroup {
    const char *group;
};

// The entry's line, once its file is made (or what stops it is known) and
// before any of its bytes or warnings; flushed before a long copy, so that
// the user sees what is being written.
void EntryBegun(void *context, const char * /*raw_group*/, const char *filename, uint32_t size,
                RBDEntryOutcome outcome) {
    PrintLine(outcome == RBD_ENTRY_KEPT, static_cast<RBDLineGroup *>(context)->group, filename);
    if (outcome == RBD_ENTRY_WRITTEN) {
        RBD_BeforeCopy(size);
    }
}

// -d: the root is made when missing (its parent must exist) and opened as
// the user named it.
hkDirectory *OpenRoot() {
#ifdef _WIN32
    int made = _mkdir(root_dir);
#else
    int made = mkdir(root_dir, 0777);
#endif
    if (made != 0 && errno != EEXIST) {
        std::string reason = hkGetError();
        RBD_Fatal("ERROR: Failed to make directory \"%s\": %s, aborting!\n",
                  ShownInMessage(root_dir), reason.c_str());
    }
    hkDirectory *root = hkOpenDirectory(root_dir);
    if (root == nullptr) {
        std::string reason = hkGetError();
        RBD_Fatal("ERROR: Failed to open directory \"%s\": %s, aborting!\n",
                  ShownInMessage(root_dir), reason.c_str());
    }
    return root;
}

} // namespace

bool RBD_SetOutputBase(const char *dir) {
    hkDirectory *base = hkOpenDirectory(dir);
    if (base == nullptr) {
        return false;
    }
    RBD_CloseOutput();
    hkCloseDirectory(output_base);
    output_base = base;
    return true;
}

void RBD_SetOutputRoot(const char *dir, const char *shown) {
    root_dir = dir;
    shown_root_dir = shown;
}

void RBD_StartWriting(int package_fd, uint64_t package_size) {
    // Every mode charges the budget; only extraction needs its root.
    hkDirectory *base = output_base;
    const char *root_name = package_name;
    if (root_dir != nullptr && run_mode.action == RBD_ACTION_EXTRACT) {
        if (root_handle == nullptr) {
            root_handle = OpenRoot();
        }
        base = root_handle;
        root_name = "";
    }
    RBD_StartExtraction(extraction, base, root_name, package_fd, package_size,
                        RBD_DefaultBudget(package_size));
    extraction.options.keep_existing = run_mode.keep_existing;
    extraction.options.pieces = RBD_StatusPieces();
    extraction.options.guard = RBD_HoldSignalsAround;
    extraction.options.entry_begun = EntryBegun;
}

void RBD_CloseOutput(void) {
    RBD_EndExtraction(extraction);
}

void RBD_WriteFile(const char *raw_group, const char *group, const char *filename, uint32_t offset,
                   uint32_t size, bool safe_group) {
    // Option mode names the file that lands on disk; the classic run's lines
    // stay as they always were. The engine takes the group path as the
    // package spells it, which its limits are measured on.
    RBDLineGroup line{run_mode.options ? group : raw_group};
    extraction.options.context = &line;
    RBDEntryResult result =
        RBD_ExtractEntry(extraction, raw_group, filename, offset, size, safe_group);
    ReportOutcome(result, line.group, filename);
}

void RBD_ChargeOrStop(uint64_t size) {
    if (!RBD_ChargeOutput(extraction.budget, size)) {
        StopOverBudget();
    }
}

const RBDExtraction &RBD_Extraction() {
    return extraction;
}

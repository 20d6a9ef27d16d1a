#include "writer.h"

#include "../../extract/entry_data.h"
#include "../../lib/system_text.h"
#include "../../types.h"
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

// Pieces of the copy while the status line is shown, so that it moves within
// a large entry too; large enough that the pieces cost nothing.
const uint64_t kStatusPiece = uint64_t{64} << 20;

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

// The warnings of the classic run, which follow the entry's "Writing" line
// and name what the writer met, as they always have.
void ReportBriefly(const RBDEntryResult &result, const char *path, const char *filename) {
    char out_path[RBD_MAX_PATH + 1] = "";
    RBD_FormatOutputPath(out_path, package_name, path, filename);
    if (result.data_missing) {
        RBD_Warning("WARNING: Failed to read in data!\n");
    }
    switch (result.outcome) {
    case RBD_ENTRY_WRITTEN:
    case RBD_ENTRY_KEPT:
        break;
    case RBD_ENTRY_UNSAFE:
        RBD_Warning("WARNING: Refusing unsafe path, \"%s%s\"!\n", ShownInMessage(path),
                    ShownInMessage(filename));
        break;
    case RBD_ENTRY_TOO_LONG:
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", ShownInMessage(path),
                    ShownInMessage(filename));
        break;
    case RBD_ENTRY_THROUGH_LINK:
        RBD_Warning("WARNING: Refusing to extract through a link, \"%s\"!\n", ShownInMessage(path));
        break;
    case RBD_ENTRY_NO_PATH:
        RBD_Warning("WARNING: Failed to create path, \"%s\"!\n", ShownInMessage(path));
        break;
    case RBD_ENTRY_IS_PACKAGE:
        RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n",
                    ShownInMessage(out_path));
        break;
    case RBD_ENTRY_EMPTY_NAME:
    case RBD_ENTRY_WRITE_FAILED:
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", ShownInMessage(out_path));
        break;
    case RBD_ENTRY_NOT_REPLACED:
        RBD_Warning("WARNING: Refusing to replace \"%s\" under Wine, which can't tell a link from "
                    "a file!\n",
                    ShownInMessage(out_path));
        break;
    case RBD_ENTRY_OVER_BUDGET:
        StopOverBudget();
    }
}

// Option mode: warnings go to standard error, apart from the "Writing"
// lines, or stand alone with -q; so each one names its entry by its path
// under the output root, and a failure of the system says the system's
// reason.
void ReportInFull(const RBDEntryResult &result, const char *path, const char *filename) {
    bool whole = result.outcome == RBD_ENTRY_WRITTEN || result.outcome == RBD_ENTRY_KEPT;
    if (whole && !result.data_missing) {
        return; // the common case, at no cost
    }
    std::string entry = std::string(path) + filename;
    const char *shown = ShownInMessage(entry.c_str());
    char text[128];
    const char *reason = RBD_SystemText(result.os_error, text, sizeof text);
    if (result.data_missing) {
        RBD_Warning("WARNING: Failed to read in data, \"%s\"!\n", shown);
    }
    switch (result.outcome) {
    case RBD_ENTRY_WRITTEN:
    case RBD_ENTRY_KEPT:
        break;
    case RBD_ENTRY_UNSAFE:
        RBD_Warning("WARNING: Refusing unsafe path, \"%s\"!\n", shown);
        break;
    case RBD_ENTRY_TOO_LONG:
        RBD_Warning("WARNING: Path too long, \"%s\"!\n", shown);
        break;
    case RBD_ENTRY_THROUGH_LINK:
        RBD_Warning("WARNING: Refusing to extract through a link, \"%s\"!\n", shown);
        break;
    case RBD_ENTRY_NO_PATH:
        RBD_Warning("WARNING: Failed to create path, \"%s\": %s!\n", shown, reason);
        break;
    case RBD_ENTRY_IS_PACKAGE:
        RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n", shown);
        break;
    case RBD_ENTRY_EMPTY_NAME:
        RBD_Warning("WARNING: Failed to write to destination, \"%s\": the name is empty!\n", shown);
        break;
    case RBD_ENTRY_WRITE_FAILED:
        RBD_Warning("WARNING: Failed to write to destination, \"%s\": %s!\n", shown, reason);
        break;
    case RBD_ENTRY_NOT_REPLACED:
        RBD_Warning("WARNING: Refusing to replace \"%s\" under Wine, which can't tell a link from "
                    "a file!\n",
                    shown);
        break;
    case RBD_ENTRY_OVER_BUDGET:
        StopOverBudget();
    }
}

void AdvanceStatus(void * /*context*/, uint64_t bytes) {
    RBD_AdvanceStatus(bytes);
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
    if (status_on) {
        extraction.options.piece_size = kStatusPiece;
        extraction.options.copied = AdvanceStatus;
    }
}

void RBD_CloseOutput(void) {
    RBD_EndExtraction(extraction);
}

void RBD_WriteFile(const char *raw_group, const char *group, const char *filename, uint32_t offset,
                   uint32_t size, bool safe_group) {
    RBDEntryResult result{};
    int fd = RBD_BeginEntry(extraction, raw_group, filename, safe_group, result);
    // Option mode names the file that lands on disk; the classic run's lines
    // stay as they always were.
    PrintLine(result.outcome == RBD_ENTRY_KEPT, run_mode.options ? group : raw_group, filename);
    if (fd >= 0) {
        RBD_BeforeCopy(size);
        RBD_FinishEntry(extraction, fd, offset, size, result);
    }
    if (run_mode.options) {
        ReportInFull(result, group, filename);
    } else {
        ReportBriefly(result, raw_group, filename);
    }
}

void RBD_ChargeOrStop(uint64_t size) {
    if (!RBD_ChargeOutput(extraction.budget, size)) {
        StopOverBudget();
    }
}

const RBDExtraction &RBD_Extraction() {
    return extraction;
}

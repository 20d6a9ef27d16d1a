#include "writer.h"

#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../package_name.h"
#include "../run_mode.h"
#include "../types.h"
#include "engine.h"
#include "entry_data.h"

#include <cstdio>

namespace {

// The directory that holds the output root: null for the working directory,
// else the one the user named. Messages show paths relative to it.
hkDirectory *output_base;

RBDExtraction extraction;

[[noreturn]] void StopOverBudget() {
    RBD_Fatal("ERROR: Output would pass %llu bytes (64 times the package plus 1 GiB), "
              "aborting!\n",
              static_cast<unsigned long long>(extraction.budget.limit));
}

void PrintWritingLine(const char *path, const char *filename) {
    if (!run_mode.quiet) {
        std::printf("Writing \"%s/%s%s\"...\n", ShownInMessage(package_name), ShownInMessage(path),
                    ShownInMessage(filename));
    }
}

// The warnings of an entry that was not written whole, in the order the
// writer meets the problems.
void ReportOutcome(const RBDEntryResult &result, const char *path, const char *filename) {
    char out_path[RBD_MAX_PATH + 1] = "";
    RBD_FormatOutputPath(out_path, package_name, path, filename);
    if (result.data_missing) {
        RBD_Warning("WARNING: Failed to read in data!\n");
    }
    switch (result.outcome) {
    case RBD_ENTRY_WRITTEN:
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

void RBD_StartWriting(int package_fd, uint64_t package_size) {
    RBD_StartExtraction(extraction, output_base, package_name, package_fd, package_size,
                        RBD_DefaultBudget(package_size));
}

void RBD_CloseOutput(void) {
    RBD_EndExtraction(extraction);
}

void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size,
                   bool safe_group) {
    PrintWritingLine(path, filename);
    RBD_BeforeCopy(size);
    RBDEntryResult result = RBD_ExtractEntry(extraction, path, filename, offset, size, safe_group);
    ReportOutcome(result, path, filename);
}

void RBD_ChargeOrStop(uint64_t size) {
    if (!RBD_ChargeOutput(extraction.budget, size)) {
        StopOverBudget();
    }
}

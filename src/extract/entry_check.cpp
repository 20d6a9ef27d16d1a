#include "entry_check.h"

#include "../output/shown_text.h"
#include "../types.h"
#include "entry_action.h"
#include "entry_data.h"
#include "output_budget.h"
#include "safe_name.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

void RBD_CheckEntry(const char *path, const char *filename, uint32_t offset, uint32_t size,
                    bool safe_group) {
    const char *shown_path = ShownInMessage(path);
    const char *shown_name = ShownInMessage(filename);
    if (!safe_group || !IsSafeName(filename)) {
        RBD_Warning("WARNING: Refusing unsafe path, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    char out_path[RBD_MAX_PATH + 1];
    if (!RBD_FormatOutputPath(out_path, path, filename)) {
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    if (!RBD_DataInPackage(offset, size)) {
        RBD_Warning("WARNING: Failed to read in data, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    // An extraction would stop here, so the test does too, with its status.
    if (!RBD_ChargeOutput(size)) {
        RBD_PrintBudgetExceeded();
        RBD_Exit(1);
    }
}

void RBD_PrintTestSummary() {
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::printf("Tested: entries %" PRIu64 ", groups %" PRIu64 ", bytes %" PRIu64
                ", package bytes %" PRIu64 ", expansion %.2f\n",
                totals.entries, totals.groups, totals.bytes, package_size, expansion);
}

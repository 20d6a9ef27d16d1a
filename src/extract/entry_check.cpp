#include "entry_check.h"

#include "../output/messages.h"
#include "../output/shown_text.h"
#include "../package/loader.h"
#include "../package_name.h"
#include "engine.h"
#include "entry_action.h"
#include "entry_data.h"
#include "writer.h"

#include <cinttypes>
#include <cstdio>

void RBD_CheckEntry(const char *path, const char *filename, uint32_t offset, uint32_t size,
                    bool safe_group) {
    const char *shown_path = ShownInMessage(path);
    const char *shown_name = ShownInMessage(filename);
    RBDEntryOutcome verdict = RBD_EntryVerdict(package_name, path, filename, safe_group);
    if (verdict == RBD_ENTRY_UNSAFE) {
        RBD_Warning("WARNING: Refusing unsafe path, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    if (verdict == RBD_ENTRY_TOO_LONG) {
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    if (!RBD_DataInPackage(offset, size, package_size)) {
        RBD_Warning("WARNING: Failed to read in data, \"%s%s\"!\n", shown_path, shown_name);
        return;
    }
    // An extraction would stop here, so the test does too, with its status.
    RBD_ChargeOrStop(size);
}

void RBD_PrintTestSummary() {
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::printf("Tested: entries %" PRIu64 ", groups %" PRIu64 ", bytes %" PRIu64
                ", package bytes %" PRIu64 ", expansion %.2f\n",
                totals.entries, totals.groups, totals.bytes, package_size, expansion);
}

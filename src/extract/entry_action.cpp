#include "entry_action.h"

#include "../output/progress.h"
#include "../run_mode.h"
#include "entry_check.h"
#include "entry_listing.h"
#include "entry_to_stdout.h"
#include "members.h"
#include "writer.h"

RBDTotals totals;

void RBD_NoteGroup() {
    ++totals.groups;
}

void RBD_HandleEntry(const char *path, const char *filename, uint32_t offset, uint32_t size,
                     bool safe_group) {
    if (!RBD_IsChosen(path, filename)) {
        return;
    }
    ++totals.entries;
    totals.bytes += size;
    switch (run_mode.action) {
    case RBD_ACTION_EXTRACT:
        RBD_WriteFile(path, filename, offset, size, safe_group);
        break;
    case RBD_ACTION_LIST:
        RBD_ListEntry(path, filename, size);
        break;
    case RBD_ACTION_JSON:
        RBD_ListEntryAsJson(path, filename, offset, size);
        break;
    case RBD_ACTION_TEST:
        RBD_CheckEntry(path, filename, offset, size, safe_group);
        break;
    case RBD_ACTION_TO_STDOUT:
        RBD_CopyEntryToStdout(path, filename, offset, size);
        break;
    case RBD_ACTION_INFO:
        break;
    }
    RBD_LinePrinted();
}

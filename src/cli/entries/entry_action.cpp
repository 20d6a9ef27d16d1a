#include "entry_action.h"

#include "../../package/walk.h"
#include "../output/progress.h"
#include "../output/status_line.h"
#include "../run_mode.h"
#include "entries_left.h"
#include "entry_check.h"
#include "entry_listing.h"
#include "entry_to_stdout.h"
#include "members.h"
#include "writer.h"

RBDTotals totals;

namespace {

// The chosen entries' bytes, from a walk of the index alone; as far as the
// index can be read (a damaged one stops the real walk soon enough).
uint64_t ChosenBytes(int package_fd) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, package_fd)) {
        return 0;
    }
    uint64_t bytes = 0;
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        if (event.kind == RBD_EVENT_DONE || event.kind == RBD_EVENT_FAILED) {
            return bytes;
        }
        if (event.kind == RBD_EVENT_ENTRY &&
            RBD_IsChosen(event.normal_group_path, event.files->name)) {
            bytes += event.files->size;
        }
    }
}

} // namespace

void RBD_StartEntries(int package_fd, uint64_t package_size) {
    if (run_mode.progress != RBD_PROGRESS_NONE) {
        RBD_StartStatus(ChosenBytes(package_fd), run_mode.progress == RBD_PROGRESS_TERMINAL);
    }
    if (run_mode.action == RBD_ACTION_LIST && run_mode.sha256) {
        RBD_FindEntriesLeft(package_fd);
    }
    RBD_StartWriting(package_fd, package_size);
}

void RBD_NoteGroup() {
    ++totals.groups;
}

void RBD_HandleEntry(const RBDWalkEvent &event) {
    const char *raw_group = event.group_path;
    const char *group = event.normal_group_path;
    const char *filename = event.files->name;
    uint32_t offset = event.files->offset;
    uint32_t size = event.files->size;
    // -l --sha256 lists only what an extraction leaves (entries_left.h);
    // every entry is counted off there, chosen or not.
    bool left = run_mode.action != RBD_ACTION_LIST || !run_mode.sha256 || RBD_NextIsLeft();
    if (!RBD_IsChosen(group, filename)) {
        return;
    }
    ++totals.entries;
    totals.bytes += size;
    switch (run_mode.action) {
    case RBD_ACTION_EXTRACT:
        RBD_WriteFile(raw_group, group, filename, offset, size, event.safe_group);
        break;
    case RBD_ACTION_LIST:
        if (left) {
            RBD_ListEntry(group, filename, offset, size);
        }
        break;
    case RBD_ACTION_JSON:
        RBD_ListEntryAsJson(group, filename, offset, size);
        break;
    case RBD_ACTION_TEST:
        RBD_CheckEntry(raw_group, group, filename, offset, size, event.safe_group);
        break;
    case RBD_ACTION_TO_STDOUT:
        RBD_CopyEntryToStdout(group, filename, offset, size);
        break;
    case RBD_ACTION_INFO:
        break;
    }
    if (status_on) {
        RBD_EntryDoneForStatus(size);
    }
    RBD_LinePrinted();
}

void RBD_EndEntries() {
    RBD_CloseOutput();
    RBD_EndChecks();
    RBD_ForgetEntriesLeft();
}

#include "entry_action.h"

#include "../../package/walk.h"
#include "../output/progress.h"
#include "../output/status_line.h"
#include "entries_left.h"
#include "entry_check.h"
#include "entry_hash.h"
#include "entry_listing.h"
#include "entry_to_stdout.h"
#include "members.h"
#include "writer.h"

namespace {

// The chosen entries' bytes, from a walk of the index alone; as far as the
// index can be read (a damaged one stops the real walk soon enough).
uint64_t ChosenBytes(RBDRun &run) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, run.package.fd)) {
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
            RBD_IsChosen(run.members, event.normal_group_path, event.files->name)) {
            bytes += event.files->size;
        }
    }
}

// Does with a chosen entry what the run's mode says. False when the entry
// was handed to a worker, to be told of once written.
bool ActOn(RBDRun &run, const RBDWalkEvent &event, bool left) {
    const char *raw_group = event.group_path;
    const char *group = event.normal_group_path;
    const char *filename = event.files->name;
    uint32_t offset = event.files->offset;
    uint32_t size = event.files->size;
    switch (run.mode.action) {
    case RBD_ACTION_EXTRACT:
        return RBD_WriteFile(run, raw_group, group, filename, offset, size, event.safe_group);
    case RBD_ACTION_LIST:
        if (left) {
            RBD_ListEntry(run, group, filename, offset, size);
        }
        break;
    case RBD_ACTION_JSON:
        RBD_ListEntryAsJson(run, group, filename, offset, size);
        break;
    case RBD_ACTION_TEST:
        return RBD_CheckEntry(run, raw_group, group, filename, offset, size, event.safe_group);
    case RBD_ACTION_TO_STDOUT:
        RBD_CopyEntryToStdout(run, group, filename, offset, size);
        break;
    case RBD_ACTION_INFO:
    case RBD_ACTION_DIFF:
        break;
    }
    return true;
}

} // namespace

void RBD_StartEntries(RBDRun &run) {
    if (run.mode.progress != RBD_PROGRESS_NONE) {
        RBD_StartStatus(run.out.status, ChosenBytes(run),
                        run.mode.progress == RBD_PROGRESS_TERMINAL);
    }
    if (run.mode.action == RBD_ACTION_LIST && run.mode.sha256) {
        RBD_FindEntriesLeft(run);
    }
    RBD_StartWriting(run);
}

void RBD_HandleEntry(RBDRun &run, const RBDWalkEvent &event) {
    // -l --sha256 lists only what an extraction leaves (entries_left.h);
    // every entry is counted off there, chosen or not.
    bool left =
        run.mode.action != RBD_ACTION_LIST || !run.mode.sha256 || RBD_NextIsLeft(run.entries_left);
    if (!RBD_IsChosen(run.members, event.normal_group_path, event.files->name)) {
        return;
    }
    ++run.totals.entries;
    run.totals.bytes += event.files->size;
    if (!ActOn(run, event, left)) {
        return;
    }
    if (run.out.status.on) {
        RBD_EntryDoneForStatus(run.out.status, event.files->size);
    }
    RBD_LinePrinted(run.out);
}

void RBD_EndEntries(RBDRun &run) {
    RBD_CloseOutput(run);
    RBD_EndChecks(run);
    RBD_ForgetEntriesLeft(run.entries_left);
    RBD_ForgetHashing(run.hashing);
}

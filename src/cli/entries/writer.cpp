#include "writer.h"

#include "../../extract/outcome_text.h"
#include "../../types.h"
#include "../interrupt.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/status_line.h"
#include "entry_check.h"

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

// An entry written by a worker is over, its turn come: its lines, as the
// serial run prints them around its copy.
void EntrySettled(void *context, const RBDEntryJob &job, RBDEntryOutcome begun,
                  const RBDEntryResult &result) {
    RBDRun &run = *static_cast<RBDRun *>(context);
    const char *group = run.mode.options ? job.group.c_str() : job.raw_group.c_str();
    PrintLine(run, begun == RBD_ENTRY_KEPT, group, job.name.c_str());
    ReportOutcome(run, result, group, job.name.c_str());
    if (run.out.status.on) {
        RBD_EntryDoneForStatus(run.out.status, job.size);
    }
    RBD_LinePrinted(run.out);
}

void EntriesMoving(void *context, uint64_t bytes) {
    RBD_ShowMoving(static_cast<RBDRun *>(context)->out.status, bytes);
}

// The run's one way to stop with workers (RBDStreams::stop): the entries
// handed out are written and told, the workers ended, and signals reach the
// run's thread again.
void EndWorkers(void *context) {
    RBDRun &run = *static_cast<RBDRun *>(context);
    RBDDestination &destination = run.destination;
    if (!destination.in_parallel) {
        return;
    }
    // Signals are watched while the last entries are written; the workers,
    // idle then, end once no thread looks at their records.
    RBD_SettleEntries(destination.parallel);
    RBD_StopWatching(destination.signals);
    RBD_EndParallel(destination.parallel);
    destination.in_parallel = false;
}

// Starts the run's workers, with the signals held off and watched; with
// none to be had, the run goes on writing one entry after another.
void StartWorkers(RBDRun &run, const RBDParallelHooks &hooks) {
    RBDDestination &destination = run.destination;
    RBDExtraction &x = destination.extraction;
    RBDEngineOptions serial = x.options;
    x.options.guard = RBD_PassSignalGate;
    x.options.context = &destination.signals;
    RBD_HoldSignals(destination.signals);
    if (RBD_StartParallel(destination.parallel, x, hooks, run.mode.jobs) == 0) {
        RBD_StopWatching(destination.signals);
        x.options = serial;
        return;
    }
    if (!RBD_WatchSignals(destination.signals, destination.parallel)) {
        RBD_EndParallel(destination.parallel);
        RBD_StopWatching(destination.signals);
        x.options = serial;
        return;
    }
    destination.in_parallel = true;
    run.out.stop = EndWorkers;
    run.out.stop_context = &run;
}

} // namespace

bool RBD_SetOutputBase(RBDDestination &destination, const char *dir) {
    hkDirectory *base = hkOpenDirectory(dir);
    if (base == nullptr) {
        return false;
    }
    RBD_EndExtraction(destination.extraction);
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
    if (run.mode.jobs <= 1) {
        return;
    }
    if (run.mode.action == RBD_ACTION_EXTRACT) {
        StartWorkers(run,
                     RBDParallelHooks{EntrySettled, run.out.status.on ? EntriesMoving : nullptr,
                                      nullptr, &run});
    } else if (run.mode.action == RBD_ACTION_TEST && run.mode.sha256) {
        StartWorkers(run, RBD_HashingHooks(run, run.mode.jobs));
    }
}

void RBD_SettleWrites(RBDRun &run) {
    if (run.destination.in_parallel) {
        RBD_SettleEntries(run.destination.parallel);
    }
}

void RBD_CloseOutput(RBDRun &run) {
    RBD_StopWorkers(run.out);
    RBD_EndExtraction(run.destination.extraction);
}

bool RBD_WriteFile(RBDRun &run, const char *raw_group, const char *group, const char *filename,
                   uint32_t offset, uint32_t size, bool safe_group) {
    if (run.destination.in_parallel) {
        RBDEntryJob job{raw_group,         group, filename, offset, size, safe_group,
                        RBD_ENTRY_WRITTEN, 0,     false};
        RBD_HandOutEntry(run.destination.parallel, std::move(job));
        return false;
    }
    // Option mode names the file that lands on disk; the classic run's lines
    // stay as they always were. The engine takes the group path as the
    // package spells it, which its limits are measured on.
    RBDEntryInHand entry{&run, run.mode.options ? group : raw_group};
    RBDExtraction &x = run.destination.extraction;
    x.options.context = &entry;
    RBDEntryResult result = RBD_ExtractEntry(x, raw_group, filename, offset, size, safe_group);
    ReportOutcome(run, result, entry.group, filename);
    return true;
}

void RBD_ChargeOrStop(RBDRun &run, uint64_t size) {
    if (!RBD_ChargeOutput(run.destination.extraction.budget, size)) {
        StopOverBudget(run);
    }
}

#include "entry_check.h"

#include "../../extract/engine.h"
#include "../../extract/entry_data.h"
#include "../../extract/outcome_text.h"
#include "../../hostkit/hostkit.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/status_line.h"
#include "entry_hash.h"
#include "writer.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

hkDirectory *GroupDirectory(RBDLookedAt &looked_at, const char *root_name, const char *path) {
    if (looked_at.valid && looked_at.group_path == path) {
        return looked_at.dir;
    }
    hkCloseDirectory(looked_at.dir);
    std::string relative = std::string(root_name) + "/" + path;
    int why = 0;
    looked_at.dir = hkFindBelow(nullptr, relative.c_str(), &why);
    looked_at.group_path = path;
    looked_at.valid = true;
    return looked_at.dir;
}

// True when the package itself already has the entry's name, so that an
// extraction would refuse the entry.
bool LandsOnPackage(RBDRun &run, const char *path, const char *filename) {
    RBDLookedAt &looked_at = run.looked_at;
    if (!looked_at.package_known) {
        looked_at.package_known = hkDescriptorIdentity(run.package.fd, &looked_at.package);
        if (!looked_at.package_known) {
            return false;
        }
    }
    hkDirectory *dir = GroupDirectory(looked_at, run.package.root_name, path);
    hkFileId id{};
    return dir != nullptr && hkIdentityBelow(dir, filename, &id) &&
           id.volume == looked_at.package.volume && id.file == looked_at.package.file;
}

// Warns of what an extraction would make of the entry, in option mode's
// words, after the warnings of the entries before it.
void WarnOf(RBDRun &run, RBDEntryOutcome outcome, const char *path, const char *filename) {
    RBD_SettleWrites(run);
    RBDOutcomeSubject entry{run.package.root_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    RBD_WordOutcome(RBD_WORDING_FULL, RBDEntryResult{outcome, false, 0}, entry, text, sizeof text);
    RBD_Warning(run.out, "WARNING: %s!\n", ShownInMessage(text));
}

void WarnOfMissingData(RBDRun &run, const char *path, const char *filename) {
    RBD_SettleWrites(run);
    RBDOutcomeSubject entry{run.package.root_name, path, filename, 0};
    char text[RBD_OUTCOME_TEXT];
    RBD_WordDataMissing(RBD_WORDING_FULL, entry, text, sizeof text);
    RBD_Warning(run.out, "WARNING: %s!\n", ShownInMessage(text));
}

// A worker's hash of an entry: data_missing when it could not all be read,
// RBD_ENTRY_WRITE_FAILED when the hashing library failed.
void HashInWorker(void *context, unsigned worker, const RBDEntryJob &job, RBDEntryResult &result,
                  std::atomic<uint64_t> &moved) {
    RBDRun &run = *static_cast<RBDRun *>(context);
    RBDHashing &hashing = run.worker_hashing.of_worker[worker];
    RBDHashed hashed =
        RBD_HashRange(hashing, run.package.fd, job.offset, job.size, nullptr, &moved);
    result = RBDEntryResult{RBD_ENTRY_WRITTEN, hashed == RBD_HASHED_SHORT, 0};
    if (hashed == RBD_HASHED_FAILED) {
        result.outcome = RBD_ENTRY_WRITE_FAILED;
    }
}

// A hashed entry's turn: its warning, as RBD_CheckEntry prints it.
void HashSettled(void *context, const RBDEntryJob &job, RBDEntryOutcome /*begun*/,
                 const RBDEntryResult &result) {
    RBDRun &run = *static_cast<RBDRun *>(context);
    if (result.outcome == RBD_ENTRY_WRITE_FAILED) {
        RBD_Fatal(run.out, "ERROR: Failed to compute SHA-256, aborting!\n");
    }
    if (result.data_missing) {
        WarnOfMissingData(run, job.group.c_str(), job.name.c_str());
    }
    if (run.out.status.on) {
        RBD_EntryDoneForStatus(run.out.status, job.size);
    }
    RBD_LinePrinted(run.out);
}

void HashesMoving(void *context, uint64_t bytes) {
    RBD_ShowMoving(static_cast<RBDRun *>(context)->out.status, bytes);
}

} // namespace

RBDParallelHooks RBD_HashingHooks(RBDRun &run, unsigned workers) {
    run.worker_hashing.of_worker.resize(workers);
    return RBDParallelHooks{HashSettled, run.out.status.on ? HashesMoving : nullptr, HashInWorker,
                            &run};
}

bool RBD_CheckEntry(RBDRun &run, const char *raw_group, const char *group, const char *filename,
                    uint32_t offset, uint32_t size, bool safe_group) {
    // The limits of extraction hold for the group path as the package spells
    // it; the warnings name the entry by its path below the output root.
    RBDEntryOutcome verdict =
        RBD_EntryVerdict(run.package.root_name, raw_group, filename, safe_group);
    if (verdict != RBD_ENTRY_WRITTEN) {
        WarnOf(run, verdict, group, filename);
        return true;
    }
    // An extraction makes the group's directory, then finds no file can have
    // the name.
    if (*filename == '\0') {
        WarnOf(run, RBD_ENTRY_EMPTY_NAME, group, filename);
        return true;
    }
    if (LandsOnPackage(run, group, filename)) {
        WarnOf(run, RBD_ENTRY_IS_PACKAGE, group, filename);
        return true;
    }
    if (!RBD_DataInPackage(offset, size, run.package.size)) {
        WarnOfMissingData(run, group, filename);
        return true;
    }
    // An extraction would stop here, so the test does too, with its status.
    RBD_ChargeOrStop(run, size);
    if (run.mode.sha256 && run.destination.in_parallel) {
        RBDEntryJob job{raw_group,         group, filename, offset, size, safe_group,
                        RBD_ENTRY_WRITTEN, 0,     true};
        RBD_HandOutEntry(run.destination.parallel, std::move(job));
        return false;
    }
    if (run.mode.sha256 && !RBD_HashEntry(run, offset, size, nullptr)) {
        WarnOfMissingData(run, group, filename);
    }
    return true;
}

void RBD_EndChecks(RBDRun &run) {
    RBDLookedAt &looked_at = run.looked_at;
    hkCloseDirectory(looked_at.dir);
    looked_at.dir = nullptr;
    looked_at.valid = false;
    for (RBDHashing &hashing : run.worker_hashing.of_worker) {
        RBD_ForgetHashing(hashing);
    }
    run.worker_hashing.of_worker.clear();
}

void RBD_PrintTestSummary(const RBDRun &run) {
    const RBDTotals &totals = run.totals;
    uint64_t package_size = run.package.size;
    double expansion = static_cast<double>(totals.bytes) / static_cast<double>(package_size);
    std::printf("Tested: entries %" PRIu64 ", groups %" PRIu64 ", bytes %" PRIu64
                ", package bytes %" PRIu64 ", expansion %.2f\n",
                totals.entries, totals.groups, totals.bytes, package_size, expansion);
}

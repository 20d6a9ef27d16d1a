// Extracting and testing: each chosen entry through the extraction engine
// (or its checks alone), its outcome reported to the caller.
#include "../extract/engine.h"
#include "../extract/entry_data.h"
#include "../extract/outcome_text.h"
#include "../extract/worker_count.h"
#include "../extract/worker_pool.h"
#include "errors.h"
#include "package_table.h"
#include "verdict.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

namespace {

// The options in effect: the caller's, or all defaults.
struct RBDRun {
    const kr_package *pkg;
    kr_extract_options options;
    bool incomplete;
    int stop;     // KR_E_BUDGET once an entry passed the budget
    kr_error why; // the last outcome's details
};

int TakeOptions(RBDRun &run, const kr_package *pkg, const kr_extract_options *opt, kr_error *err) {
    run.pkg = pkg;
    run.options = kr_extract_options{};
    run.incomplete = false;
    run.stop = KR_OK;
    RBD_ClearError(&run.why);
    if (pkg == nullptr) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no package given");
    }
    if (opt != nullptr) {
        // An older caller's smaller record leaves the later fields at their
        // defaults; one too small to hold the first ones is a mistake.
        if (opt->struct_size < offsetof(kr_extract_options, ctx) + sizeof opt->ctx) {
            return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                                "kr_extract_options.struct_size is %llu, too small",
                                static_cast<unsigned long long>(opt->struct_size));
        }
        // Only what the caller's record holds is read: one built against an
        // older header is smaller.
        size_t size = opt->struct_size < sizeof run.options ? opt->struct_size : sizeof run.options;
        std::memcpy(&run.options, opt, size);
    }
    if (run.options.budget == 0) {
        run.options.budget = RBD_DefaultBudget(pkg->info.package_size);
    }
    return KR_OK;
}

bool Chosen(const RBDRun &run, const kr_entry &entry) {
    return run.options.select == nullptr || run.options.select(run.options.ctx, &entry) != 0;
}

// The next chosen entry from number `next` on, in `entry`; false past the last.
bool NextChosen(const RBDRun &run, uint32_t &next, kr_entry &entry) {
    while (next < run.pkg->entries.size()) {
        RBD_ViewEntry(*run.pkg, next++, entry);
        if (Chosen(run, entry)) {
            return true;
        }
    }
    return false;
}

// Hands one entry's outcome to the caller; anything but KR_OK leaves the run
// incomplete.
void Report(RBDRun &run, const kr_entry &entry, int outcome, const kr_error *why) {
    if (outcome != KR_OK) {
        run.incomplete = true;
    }
    if (run.options.report != nullptr) {
        run.options.report(run.options.ctx, &entry, outcome, why);
    }
}

// The code of an engine outcome, with `why` filled for the caller in the
// words of the command line's option mode.
int OutcomeCode(const RBDRun &run, const RBDEntryResult &result, const kr_entry &entry,
                kr_error &why) {
    RBDOutcomeSubject subject{"", entry.group, entry.name, run.options.budget};
    char text[RBD_OUTCOME_TEXT];
    int code = KR_E_UNSAFE;
    switch (result.outcome) {
    case RBD_ENTRY_WRITTEN:
    case RBD_ENTRY_KEPT: // never asked for here
        if (!result.data_missing) {
            return RBD_ClearError(&why);
        }
        RBD_WordDataMissing(RBD_WORDING_FULL, subject, text, sizeof text);
        return RBD_SetError(&why, KR_E_NO_DATA, 0, KR_NO_RECORD, "%s", text);
    case RBD_ENTRY_UNSAFE:
    case RBD_ENTRY_TOO_LONG:
    case RBD_ENTRY_EMPTY_NAME:
    case RBD_ENTRY_THROUGH_LINK:
    case RBD_ENTRY_IS_PACKAGE:
    case RBD_ENTRY_NOT_REPLACED:
        break;
    case RBD_ENTRY_NO_PATH:
    case RBD_ENTRY_WRITE_FAILED:
        code = KR_E_IO;
        break;
    case RBD_ENTRY_OVER_BUDGET:
        code = KR_E_BUDGET;
        break;
    }
    RBD_WordOutcome(RBD_WORDING_FULL, result, subject, text, sizeof text);
    return RBD_SetError(&why, code, result.os_error, KR_NO_RECORD, "%s", text);
}

// The run's result once every chosen entry was met, or at the budget's stop.
int Finish(const RBDRun &run, int stop, const kr_error &why, kr_error *err) {
    if (stop == KR_E_BUDGET) {
        if (err != nullptr) {
            *err = why;
        }
        return KR_E_BUDGET;
    }
    RBD_ClearError(err);
    return run.incomplete ? KR_INCOMPLETE : KR_OK;
}

// The output root, made when missing, opened as the caller named it.
hkDirectory *OpenRoot(const char *dir, kr_error *err) {
    // Why it could not be made, unless it was there already: the system's
    // code, as os_error gives it (on Windows, the one behind errno).
#ifdef _WIN32
    int made = _mkdir(dir);
    int error = made == 0 || errno == EEXIST ? 0 : static_cast<int>(_doserrno);
#else
    int made = mkdir(dir, 0777);
    int error = made == 0 || errno == EEXIST ? 0 : errno;
#endif
    hkDirectory *root = hkOpenDirectory(dir);
    if (root == nullptr) {
        if (error == 0) {
            error = hkErrorCode();
        }
        char text[128];
        RBD_SetError(err, KR_E_IO, error, KR_NO_RECORD, "can't make or open \"%s\": %s", dir,
                     RBD_SystemText(error, text, sizeof text));
    }
    return root;
}

} // namespace

namespace {

// What became of one entry, told to the caller; the budget's refusal ends
// the run.
void Settle(RBDRun &run, const kr_entry &entry, const RBDEntryResult &result) {
    int outcome = OutcomeCode(run, result, entry, run.why);
    Report(run, entry, outcome, outcome == KR_OK ? nullptr : &run.why);
    if (outcome == KR_E_BUDGET) {
        run.stop = KR_E_BUDGET;
    }
}

// The engine's result for an entry whose output path is too long, or
// RBD_ENTRY_WRITTEN. The engine, given the normal group path, would measure
// it; the limit measures the group path as the package spells it.
RBDEntryOutcome LengthVerdict(const RBDEntryRecord &record, const kr_entry &entry) {
    bool fits = RBD_OutputLengthFits(0, record.raw_group_length, std::strlen(entry.name));
    return fits ? RBD_ENTRY_WRITTEN : RBD_ENTRY_TOO_LONG;
}

void ExtractSerially(RBDRun &run, RBDExtraction &x) {
    uint32_t next = 0;
    kr_entry entry;
    while (run.stop == KR_OK && NextChosen(run, next, entry)) {
        const RBDEntryRecord &record = run.pkg->entries[entry.index];
        bool safe_group = (record.flags & KR_ENTRY_UNSAFE_GROUP) == 0;
        RBDEntryResult result{LengthVerdict(record, entry), false, 0};
        if (result.outcome == RBD_ENTRY_WRITTEN) {
            result = RBD_ExtractEntry(x, entry.group, entry.name, record.offset, record.size,
                                      safe_group);
        }
        Settle(run, entry, result);
    }
}

void SettleJob(void *context, const RBDEntryJob &job, RBDEntryOutcome /*begun*/,
               const RBDEntryResult &result) {
    RBDRun &run = *static_cast<RBDRun *>(context);
    kr_entry entry;
    RBD_ViewEntry(*run.pkg, static_cast<uint32_t>(job.tag), entry);
    Settle(run, entry, result);
}

void ExtractInParallel(const RBDRun &run, RBDParallel &p) {
    uint32_t next = 0;
    kr_entry entry;
    while (run.stop == KR_OK && NextChosen(run, next, entry)) {
        const RBDEntryRecord &record = run.pkg->entries[entry.index];
        RBDEntryJob job{entry.group,
                        entry.group,
                        entry.name,
                        record.offset,
                        record.size,
                        (record.flags & KR_ENTRY_UNSAFE_GROUP) == 0,
                        LengthVerdict(record, entry),
                        entry.index,
                        false};
        RBD_HandOutEntry(p, std::move(job));
    }
    RBD_EndParallel(p);
}

} // namespace

int kr_extract(const kr_package *pkg, const char *dir, const kr_extract_options *opt,
               kr_error *err) {
    RBDRun run;
    int taken = TakeOptions(run, pkg, opt, err);
    if (taken != KR_OK) {
        return taken;
    }
    if (dir == nullptr || *dir == '\0') {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no directory given");
    }
    int described = RBD_NeedDescriptor(*pkg, "extracting", err);
    if (described != KR_OK) {
        return described;
    }
    hkDirectory *root = OpenRoot(dir, err);
    if (root == nullptr) {
        return KR_E_IO;
    }
    RBDExtraction x;
    RBD_StartExtraction(x, root, "", pkg->fd, pkg->info.package_size, run.options.budget);
    unsigned threads = RBD_WorkersFor(run.options.threads);
    RBDParallel p;
    RBDParallelHooks hooks{SettleJob, nullptr, nullptr, &run};
    if (threads > 1 && RBD_StartParallel(p, x, hooks, threads) > 0) {
        ExtractInParallel(run, p);
    } else {
        ExtractSerially(run, x);
    }
    RBD_EndExtraction(x);
    hkCloseDirectory(root);
    return Finish(run, run.stop, run.why, err);
}

int kr_test(const kr_package *pkg, const kr_extract_options *opt, kr_error *err) {
    RBDRun run;
    int taken = TakeOptions(run, pkg, opt, err);
    if (taken != KR_OK) {
        return taken;
    }
    RBDBudget budget{run.options.budget, 0};
    int stop = KR_OK;
    kr_error why;
    RBD_ClearError(&why);
    uint32_t next = 0;
    kr_entry entry;
    while (stop == KR_OK && NextChosen(run, next, entry)) {
        // What the engine would make of it before touching the disk.
        RBDEntryResult result{RBD_VerdictOf(*pkg, entry.index, ""), false, 0};
        if (result.outcome == RBD_ENTRY_WRITTEN) {
            result.data_missing = (entry.flags & KR_ENTRY_NO_DATA) != 0;
            if (!result.data_missing && !RBD_ChargeOutput(budget, entry.size)) {
                result.outcome = RBD_ENTRY_OVER_BUDGET;
            }
        }
        int outcome = OutcomeCode(run, result, entry, why);
        Report(run, entry, outcome, outcome == KR_OK ? nullptr : &why);
        if (outcome == KR_E_BUDGET) {
            stop = KR_E_BUDGET;
        }
    }
    return Finish(run, stop, why, err);
}

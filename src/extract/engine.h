// The extraction engine: writes entries of a package below an output root by
// rules that neither the package nor what already lies on disk can turn
// against the user. The command line and the library's kr_extract share it;
// it prints nothing and returns each entry's outcome for its caller to tell.
//  - No link below the output base is ever followed: the output root and
//    every group directory must be real directories.
//  - Whatever non-directory already has an entry's name is replaced, by name
//    only (a link is never followed, a hard link's other names keep their
//    contents, a special file is never opened), unless it is the package.
//    Where the host can't replace names safely (hkCanReplaceNames: under
//    Wine) only a file this run created is replaced, and anything else kept.
//  - A file that could not be written whole is removed by its directory
//    handle; an entry whose data lies outside the package is left empty.
//  - What the run writes stays within its budget.
#pragma once

#include "../hostkit/hostkit.h"
#include "../types.h"
#include "output_budget.h"
#include "piece_copy.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

enum RBDEntryOutcome {
    RBD_ENTRY_WRITTEN = 0,
    RBD_ENTRY_UNSAFE,       // a name on its path could lead outside the root
    RBD_ENTRY_TOO_LONG,     // its output path is longer than RBD_MAX_PATH
    RBD_ENTRY_THROUGH_LINK, // a link is in the way of its group's directory
    RBD_ENTRY_NO_PATH,      // its group's directory could not be had
    RBD_ENTRY_EMPTY_NAME,   // its name is empty: no file can have it
    RBD_ENTRY_IS_PACKAGE,   // its name is the package itself
    RBD_ENTRY_WRITE_FAILED, // its file could not be created or written whole
    RBD_ENTRY_OVER_BUDGET,  // it would pass the budget: nothing written
    RBD_ENTRY_KEPT,         // keep_existing: something has its name, and stays
    RBD_ENTRY_NOT_REPLACED, // something not of this run has its name, and the
                            // host can't safely remove it: left as it was
};

struct RBDEntryResult {
    RBDEntryOutcome outcome;
    // The entry's data was not in the package (or the package shrank under
    // us): its file was left empty. Set along with any outcome after the file
    // was created.
    bool data_missing;
    int os_error; // the system's reason for NO_PATH and WRITE_FAILED, else 0
};

// What a caller may ask of the engine beyond its defaults (all off: what
// RBD_StartExtraction sets, and the library's behaviour).
struct RBDEngineOptions {
    // Whatever already has an entry's name is left as it is, and the entry
    // is not written: RBD_ENTRY_KEPT.
    bool keep_existing;
    // How entry bytes are copied: in one call of each entry's full size, or
    // in pieces that a caller can show moving.
    RBDPieces pieces;
    // Runs `step(step_context)`, once: a step that creates an entry's file
    // and marks it as the one being written, or one that closes or removes
    // it and takes the mark away (see RBDExtraction::writing). The command
    // line holds its signals off meanwhile, so that a signal finds either no
    // file of this run under the name, or one marked for it to remove, and
    // never a mark that is being changed. None: the step simply runs.
    void (*guard)(void *context, void (*step)(void *step_context), void *step_context);
    // Called once for every entry, before any of its bytes is copied and
    // before RBD_ExtractEntry returns: `outcome` is RBD_ENTRY_WRITTEN when
    // its file was made and its bytes follow, else what stopped it there.
    // The command line prints its "Writing" or "Keeping" line here.
    void (*entry_begun)(void *context, const char *group_path, const char *name, uint32_t size,
                        RBDEntryOutcome outcome);
    void *context; // the caller's, for guard and entry_begun
};

// Where names can't be replaced safely, the identities (volume, file) of
// the files a run created: a later entry of the same path still replaces an
// earlier one. The workers of one run share it, hence the lock.
struct RBDCreatedFiles {
    std::mutex lock;
    std::set<std::pair<uint64_t, uint64_t>> ids;
};

struct RBDExtraction {
    RBDEngineOptions options;
    hkDirectory *base;     // holds the output root; null: the working directory
    const char *root_name; // the output root below `base`; "" for `base` itself
    int package_fd;
    uint64_t package_size;
    hkFileId package_id;
    bool package_known; // when the identity is unknown, nothing is replaced
    RBDBudget budget;
    // The directory of the last group written to, open, and its group path.
    // Entries come group by group, so a group path is resolved once and its
    // handle serves all its entries.
    hkDirectory *group_dir;
    char group_path[RBD_MAX_PATH + 1];
    // The file being written, for a caller that must remove it when the
    // process is ended midway (a signal handler may read these, and nothing
    // else of the record): `writing` is set right after the file is created
    // (within options.guard), after `writing_dir_fd` (hkDirectoryFd of its
    // directory) and `writing_name`, and cleared only once the file is
    // closed whole or removed. Never set for what the run did not create.
    std::atomic<bool> writing;
    int writing_dir_fd;
    char writing_name[RBD_NAME_FIELD];
    // Where names can't be replaced safely, the files this run created:
    // `own_created`, or a worker's run's (RBD_ShareCreatedFiles). Unused
    // everywhere else.
    bool replaces_names;
    RBDCreatedFiles own_created;
    RBDCreatedFiles *created;
};

// Prepares `x` for writing entries of the package open as `package_fd`
// below `base` (kept, not closed by the engine) as the root `root_name`.
void RBD_StartExtraction(RBDExtraction &x, hkDirectory *base, const char *root_name, int package_fd,
                         uint64_t package_size, uint64_t budget);

// Makes `worker` note the files it creates where `x` does, and look there
// for the files it may replace: the workers of one run share one record.
void RBD_ShareCreatedFiles(RBDExtraction &worker, const RBDExtraction &x);

// What extraction makes of an entry's path before touching the disk:
// RBD_ENTRY_WRITTEN when it may be written, else UNSAFE or TOO_LONG.
// `safe_group` is false when a name along the group path is unsafe.
RBDEntryOutcome RBD_EntryVerdict(const char *root_name, const char *group_path, const char *name,
                                 bool safe_group);

// Writes one entry: `size` bytes at `offset` of the package into
// <root>/<group_path><name>, making its directories as needed. A file that
// could not be written whole is removed; the result says what became of it.
RBDEntryResult RBD_ExtractEntry(RBDExtraction &x, const char *group_path, const char *name,
                                uint32_t offset, uint32_t size, bool safe_group);

// Closes what the engine keeps open between entries; `x` may be started again.
void RBD_EndExtraction(RBDExtraction &x);

// The whole state of one run of the command line: what its options chose,
// the package it reads, what the walk met, where the entries go, and what
// each mode keeps from one entry to the next. main() makes one record and
// hands it, by reference, to each step that needs a part of it; a run keeps
// nothing anywhere else. The exceptions are what a signal handler must find
// without it (interrupt.cpp, status_line.cpp) and the facts of the process
// about its terminals (shown_text.h).
#pragma once

#include "../extract/engine.h"
#include "../hostkit/hostkit.h"
#include "../types.h"
#include "hash/sha256.h"
#include "interrupt.h"
#include "loaded_package.h"
#include "output/streams.h"
#include "run_mode.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The package the run reads.
struct RBDRunPackage {
    const char *path;                         // as the user named it
    char root_name[RBD_MAX_PACKAGE_NAME + 1]; // the output root's name (RBD_RootNameOf)
    int fd = -1;                              // open for reading during the load only
    uint64_t size;                            // its length, once the load has begun
    // The package while it is being loaded, null before and after. A fatal
    // error ends the run with it held, as a loaded package is held until the
    // run ends: a leak checker finds it here.
    RBDPackage *in_load;
};

// What the walk met: the entries chosen, the group records read and the
// chosen entries' bytes.
struct RBDTotals {
    uint64_t entries;
    uint64_t groups;
    uint64_t bytes;
};

// A member pattern, as matched and as the user gave it.
struct RBDMember {
    std::string pattern; // NormalizedPattern of `as_given`
    const char *as_given;
    bool matched;
};

// The members the run was asked for (none: every entry) and the patterns of
// --exclude (members.h).
struct RBDMembers {
    std::vector<RBDMember> patterns;
    std::vector<std::string> excludes;
};

// Where the entries go, and the extraction engine's record (writer.h).
struct RBDDestination {
    hkDirectory *base;          // -C: holds the output root; null: the working directory
    bool root_named;            // -d: the root is `root_dir` itself, not <base>/<root_name>/
    std::string root_dir;       // -d's directory, below -C's when relative
    std::string shown_root_dir; // -d's directory as the lines show it
    hkDirectory *root;          // -d's directory, open once the header was read
    RBDExtraction extraction;
    // With several workers (run.mode.jobs): they write the entries that
    // the walk hands out, and a thread of their own waits for signals.
    bool in_parallel;
    RBDParallel parallel;
    RBDSignalWatch signals;
};

// --sha256: one hash and one buffer for the whole load, made for the first
// entry hashed (entry_hash.h).
struct RBDHashing {
    RBDSha256 *hash;
    std::unique_ptr<char[]> buffer;
};

// -t --sha256 with workers: one hash and buffer for each (entry_check.h).
struct RBDWorkerHashing {
    std::vector<RBDHashing> of_worker;
};

// -l --sha256: by entry in index order, whether an extraction leaves it, and
// the entry the walk comes to next (entries_left.h).
struct RBDEntriesLeft {
    std::vector<bool> left;
    size_t next;
};

// -t: the directory of the last group path looked at below the output root,
// found without following links and without making anything; null when it
// is not there. Entries come group by group, so each group is looked up once.
// And the package's identity, to tell an entry that would land on it
// (entry_check.h).
struct RBDLookedAt {
    bool valid;
    std::string group_path;
    hkDirectory *dir;
    bool package_known;
    hkFileId package;
};

// One run. Made with `RBDRun run{};`: everything zero or empty, the package
// not open, messages on standard output (the classic run's way).
struct RBDRun {
    RBDRunMode mode;
    RBDRunPackage package;
    RBDTotals totals;
    RBDMembers members;
    RBDDestination destination;
    RBDHashing hashing;
    RBDWorkerHashing worker_hashing;
    RBDEntriesLeft entries_left;
    RBDLookedAt looked_at;
    RBDStreams out;
};

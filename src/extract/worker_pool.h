// Extraction with several workers. The caller's thread walks the index and
// hands entries out in index order (RBD_HandOutEntry); workers create and
// copy, each with an engine record of its own; the results come back to the
// caller's thread in index order (RBDParallelHooks::settled), where every
// line about them is printed. The tree comes out as the serial run leaves
// it: an entry waits while an earlier one whose path clashes with its own is
// unfinished (path_clash.h), and the budget is reserved in index order and
// given back by entries that wrote no file, so that it stops at the entry
// where the serial run stops, written by the caller's thread alone once
// every earlier entry has settled.
#pragma once

#include "engine.h"
#include "entry_queue.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct RBDParallel;

struct RBDParallelHooks {
    // An entry is over: `begun` is what RBDEngineOptions::entry_begun would
    // have been told, `result` what RBD_ExtractEntry gave. On the caller's
    // thread, in index order.
    void (*settled)(void *context, const RBDEntryJob &job, RBDEntryOutcome begun,
                    const RBDEntryResult &result);
    // While the caller's thread waits for results, about 10 times a second:
    // `bytes` the entries in hand have copied so far. Optional.
    void (*moving)(void *context, uint64_t bytes);
    // What a worker does with an entry in place of writing it: for jobs
    // that only read (RBDEntryJob::read_only). On the worker's thread,
    // `worker` from 0, `moved` counting the bytes it got through. Optional.
    void (*work)(void *context, unsigned worker, const RBDEntryJob &job, RBDEntryResult &result,
                 std::atomic<uint64_t> &moved);
    void *context;
};

// Where an engine record tells what it began an entry with.
struct RBDBegunSink {
    RBDParallel *pool;
    RBDSlot *slot; // the entry in hand; null: `begun` below
    RBDEntryOutcome begun;
};

struct RBDWorker {
    RBDBegunSink sink; // first: the engine's context is the worker
    RBDExtraction x;
    unsigned index; // from 0
    uint64_t last_group;
    std::thread thread;
};

// An entry handed out, not yet in the queue: they go in a few at a time.
struct RBDPendingEntry {
    RBDEntryJob job;
    bool reserved;
};

struct RBDParallel {
    RBDExtraction *main; // the caller's record: its budget, its options
    RBDEngineOptions main_options;
    RBDParallelHooks hooks;
    RBDBegunSink inline_sink;
    RBDEntryQueue queue;
    std::mutex lock;
    std::condition_variable work;    // workers wait here for entries
    std::condition_variable results; // the caller's thread waits here
    size_t wanted;                   // for so many entries done at the front
    bool stopping;
    std::vector<RBDPendingEntry> pending; // the caller's thread's alone
    // Fixed while the workers run: a signal's thread may look at their
    // records' marks (RBDExtraction::writing).
    std::vector<std::unique_ptr<RBDWorker>> workers;
};

// Starts up to `workers` workers writing with copies of `x`, which must be
// started (RBD_StartExtraction) and given its options, and stays the
// caller's: its budget is the run's. Gives the workers started: fewer when
// threads could not be made; 0 when none could, and the caller goes on
// serially with `x`.
unsigned RBD_StartParallel(RBDParallel &p, RBDExtraction &x, const RBDParallelHooks &hooks,
                           unsigned workers);

// Hands an entry out, after its earlier ones; first takes back what results
// are ready, and waits for room when every place in the queue is taken. A
// job that only reads reserves nothing from the budget.
void RBD_HandOutEntry(RBDParallel &p, RBDEntryJob &&job);

// Waits for every entry handed out, settling each in turn.
void RBD_SettleEntries(RBDParallel &p);

// Settles every entry and ends the workers; `x` has its options back. Does
// nothing when no worker runs, so that every way out of a run may call it.
void RBD_EndParallel(RBDParallel &p);

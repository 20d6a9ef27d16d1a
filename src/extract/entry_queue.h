// The entries of a run with several workers, in index order, from the one
// handed out first to the last: which may start (none earlier and still
// unfinished clashes with it, path_clash.h), which are being written, and
// the results waiting to be taken in order. It holds a fixed number of
// entries, so that results held behind a large entry stay few. Not locked:
// its owner (worker_pool.h) holds a lock around every call.
#pragma once

#include "engine.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One entry to write, as the engine takes it.
struct RBDEntryJob {
    std::string raw_group; // the group path as the package spells it
    std::string group;     // its normal form, by which paths are compared
    std::string name;
    uint32_t offset;
    uint32_t size;
    bool safe_group;
    // RBD_ENTRY_WRITTEN: to be written. Anything else: the outcome its
    // caller already decided, the entry touching nothing.
    RBDEntryOutcome preset;
    size_t tag; // the caller's, handed back with the result
    // Only read (hashed): it clashes with nothing, and nothing waits for it.
    bool read_only;
};

enum RBDSlotState { RBD_SLOT_WAITING, RBD_SLOT_RUNNING, RBD_SLOT_DONE };

struct RBDSlot {
    RBDEntryJob job;
    std::string key;   // RBD_ClashKeyOf the entry's path
    uint64_t group_id; // the same for entries of one group met in a row
    unsigned blockers; // earlier entries, not yet done, that clash with it
    RBDSlotState state;
    bool reserved; // its size was reserved from the budget
    RBDEntryOutcome begun;
    RBDEntryResult result;
    std::atomic<uint64_t> moved; // bytes copied so far, for the status line
};

struct RBDEntryQueue {
    std::unique_ptr<RBDSlot[]> slots;
    size_t capacity;
    uint64_t head; // the first entry not yet taken back
    uint64_t tail; // one past the last entry handed out
    uint64_t group_id;
    std::string last_group;
};

// Makes room for `capacity` entries (at least 1).
void RBD_StartQueue(RBDEntryQueue &queue, size_t capacity);

bool RBD_QueueFull(const RBDEntryQueue &queue);
bool RBD_QueueEmpty(const RBDEntryQueue &queue);

// Appends `job`, to wait for a worker (or, when preset, done at once).
// The queue must not be full.
void RBD_PushEntry(RBDEntryQueue &queue, RBDEntryJob &&job, bool reserved);

// A waiting entry that may start now, null when there is none. Workers do
// best in directories of their own: one of group `preferred` first, then
// one of a group no worker is in, then the first.
RBDSlot *RBD_PickReady(RBDEntryQueue &queue, uint64_t preferred);

// Up to `most` waiting entries that may start now, into `out`: the one
// RBD_PickReady gives, then those of its group after it while their sizes
// add up to no more than `most_bytes`, so that large entries go to workers
// one at a time. Gives how many.
size_t RBD_PickReadyRun(RBDEntryQueue &queue, uint64_t preferred, RBDSlot **out, size_t most,
                        uint64_t most_bytes);

// The running entry `slot` is done; true when that let later entries start.
bool RBD_MarkDone(RBDEntryQueue &queue, RBDSlot &slot);

// The first entry not yet taken back, when it is done; else null.
RBDSlot *RBD_DoneFront(RBDEntryQueue &queue);

// How many entries from the first on are done, counting up to `most`.
size_t RBD_DoneAtFront(const RBDEntryQueue &queue, size_t most);

// Takes the first entry away.
void RBD_PopFront(RBDEntryQueue &queue);

// Bytes moved by the entries being written, for the status line.
uint64_t RBD_BytesMoving(const RBDEntryQueue &queue);

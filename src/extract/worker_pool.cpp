#include "worker_pool.h"

#include "entry_data.h"

#include <chrono>
#include <new>
#include <system_error>

namespace {

// Entries held per worker: enough for each to find work in a group of its
// own (two workers creating files in one directory are slower than in two),
// few enough that results held behind a large entry stay small.
const size_t kEntriesPerWorker = 64;
constexpr std::chrono::milliseconds kMovingInterval{100};
// Entries a worker takes at once, and that the caller's thread puts in the
// queue at once: fewer turns of the lock that every thread shares.
const size_t kTakenAtOnce = 4;
// Bytes of the entries a worker takes at once: small ones only go together.
const uint64_t kTakenBytesAtOnce = 256 << 10;
const size_t kPutAtOnce = 16;

// The engine's entry_begun for a pool's records: notes the outcome for the
// result, to be told in index order.
void NoteBegun(void *context, const char * /*group_path*/, const char * /*name*/, uint32_t /*size*/,
               RBDEntryOutcome outcome) {
    auto *sink = static_cast<RBDBegunSink *>(context);
    if (sink->slot != nullptr) {
        sink->slot->begun = outcome;
    } else {
        sink->begun = outcome;
    }
}

// The engine's guard for a pool's records: the caller's guard, if any.
void CallersGuard(void *context, void (*step)(void *), void *step_context) {
    const RBDEngineOptions &options = static_cast<RBDBegunSink *>(context)->pool->main_options;
    if (options.guard != nullptr) {
        options.guard(options.context, step, step_context);
    } else {
        step(step_context);
    }
}

void AddMoved(void *context, uint64_t bytes) {
    static_cast<std::atomic<uint64_t> *>(context)->fetch_add(bytes, std::memory_order_relaxed);
}

// Options for a record of the pool, whose context is `sink`.
RBDEngineOptions PoolOptions(const RBDParallel &p, RBDBegunSink *sink) {
    RBDEngineOptions options = p.main_options;
    options.guard = CallersGuard;
    options.entry_begun = NoteBegun;
    options.context = sink;
    return options;
}

void WriteEntry(RBDWorker &w, RBDSlot &slot) {
    const RBDParallelHooks &hooks = w.sink.pool->hooks;
    if (slot.job.read_only && hooks.work != nullptr) {
        hooks.work(hooks.context, w.index, slot.job, slot.result, slot.moved);
        slot.begun = slot.result.outcome;
        return;
    }
    RBDExtraction &x = w.x;
    if (x.options.pieces.copied != nullptr) {
        x.options.pieces.context = &slot.moved;
    }
    const RBDEntryJob &job = slot.job;
    slot.result = RBD_ExtractEntry(x, job.raw_group.c_str(), job.name.c_str(), job.offset, job.size,
                                   job.safe_group);
}

void RunWorker(RBDWorker *w) {
    RBDParallel &p = *w->sink.pool;
    std::unique_lock<std::mutex> hold(p.lock);
    for (;;) {
        RBDSlot *taken[kTakenAtOnce];
        size_t count =
            RBD_PickReadyRun(p.queue, w->last_group, taken, kTakenAtOnce, kTakenBytesAtOnce);
        if (count == 0) {
            if (p.stopping) {
                return;
            }
            p.work.wait(hold);
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            taken[i]->state = RBD_SLOT_RUNNING;
        }
        w->last_group = taken[0]->group_id;
        hold.unlock();
        for (size_t i = 0; i < count; ++i) {
            w->sink.slot = taken[i];
            WriteEntry(*w, *taken[i]);
        }
        w->sink.slot = nullptr;
        hold.lock();
        bool freed = false;
        for (size_t i = 0; i < count; ++i) {
            freed = RBD_MarkDone(p.queue, *taken[i]) || freed;
        }
        if (freed) {
            p.work.notify_all();
        }
        // The caller's thread is woken once what it waits for is done at
        // the front, not for each entry.
        if (p.wanted > 0 && RBD_DoneAtFront(p.queue, p.wanted) >= p.wanted) {
            p.wanted = 0;
            p.results.notify_one();
        }
    }
}

// Makes and starts one worker; false when memory or a thread can't be had.
bool AddWorker(RBDParallel &p) {
    try {
        std::unique_ptr<RBDWorker> w(new RBDWorker);
        w->sink = RBDBegunSink{&p, nullptr, RBD_ENTRY_WRITTEN};
        w->index = static_cast<unsigned>(p.workers.size());
        w->last_group = 0;
        const RBDExtraction &x = *p.main;
        // The budget is the caller's, reserved entry by entry before the
        // worker sees them.
        RBD_StartExtraction(w->x, x.base, x.root_name, x.package_fd, x.package_size, UINT64_MAX);
        RBD_ShareCreatedFiles(w->x, *p.main);
        w->x.options = PoolOptions(p, &w->sink);
        if (p.main_options.pieces.copied != nullptr) {
            w->x.options.pieces.copied = AddMoved;
        }
        RBDWorker *worker = w.get();
        p.workers.push_back(std::move(w));
        try {
            worker->thread = std::thread(RunWorker, worker);
        } catch (const std::system_error &) {
            RBD_EndExtraction(worker->x);
            p.workers.pop_back();
            return false;
        }
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Waits until `wanted` entries are done at the front of the queue (fewer
// may be, when woken early), telling the caller meanwhile how far the
// entries in hand have come.
void WaitForResult(RBDParallel &p, std::unique_lock<std::mutex> &hold, size_t wanted) {
    p.wanted = wanted;
    if (p.hooks.moving == nullptr) {
        p.results.wait(hold);
        return;
    }
    if (p.results.wait_for(hold, kMovingInterval) == std::cv_status::timeout) {
        uint64_t bytes = RBD_BytesMoving(p.queue);
        hold.unlock();
        p.hooks.moving(p.hooks.context, bytes);
        hold.lock();
    }
}

// Takes back every result at the front that is ready, in order, the lock
// let go while the caller hears of each.
void SettleReady(RBDParallel &p, std::unique_lock<std::mutex> &hold) {
    while (RBDSlot *front = RBD_DoneFront(p.queue)) {
        RBDEntryJob job = std::move(front->job);
        RBDEntryOutcome begun = front->begun;
        RBDEntryResult result = front->result;
        bool reserved = front->reserved;
        RBD_PopFront(p.queue);
        hold.unlock();
        // An entry that made no file charges nothing, as in the serial run.
        if (reserved && begun != RBD_ENTRY_WRITTEN) {
            p.main->budget.charged -= job.size;
        }
        p.hooks.settled(p.hooks.context, job, begun, result);
        hold.lock();
    }
}

// The entry at the budget's edge, once every earlier one has settled: the
// caller's record writes it, charging the budget as the serial run does.
void WriteInline(RBDParallel &p, const RBDEntryJob &job) {
    p.inline_sink.begun = RBD_ENTRY_WRITTEN;
    RBDEntryResult result = RBD_ExtractEntry(*p.main, job.raw_group.c_str(), job.name.c_str(),
                                             job.offset, job.size, job.safe_group);
    p.hooks.settled(p.hooks.context, job, p.inline_sink.begun, result);
}

} // namespace

unsigned RBD_StartParallel(RBDParallel &p, RBDExtraction &x, const RBDParallelHooks &hooks,
                           unsigned workers) {
    p.main = &x;
    p.main_options = x.options;
    p.hooks = hooks;
    p.inline_sink = RBDBegunSink{&p, nullptr, RBD_ENTRY_WRITTEN};
    p.stopping = false;
    p.wanted = 0;
    p.pending.clear();
    p.workers.clear();
    try {
        RBD_StartQueue(p.queue, kEntriesPerWorker * workers);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    while (p.workers.size() < workers && AddWorker(p)) {
    }
    if (p.workers.empty()) {
        return 0;
    }
    x.options = PoolOptions(p, &p.inline_sink);
    return static_cast<unsigned>(p.workers.size());
}

namespace {

// Puts the entries handed out into the queue, as room is made for them.
void PutPending(RBDParallel &p, std::unique_lock<std::mutex> &hold) {
    for (RBDPendingEntry &entry : p.pending) {
        // The first entry may be done already (one decided by its caller,
        // or one whose end was told before this thread waited): settled
        // before any wait, as no worker tells of it again.
        SettleReady(p, hold);
        while (RBD_QueueFull(p.queue)) {
            p.work.notify_all();
            // Room for the rest, not for one entry at a time.
            WaitForResult(p, hold, kPutAtOnce < p.queue.capacity ? kPutAtOnce : 1);
            SettleReady(p, hold);
        }
        RBD_PushEntry(p.queue, std::move(entry.job), entry.reserved);
    }
    p.pending.clear();
    p.work.notify_all();
}

} // namespace

void RBD_HandOutEntry(RBDParallel &p, RBDEntryJob &&job) {
    bool charge = job.preset == RBD_ENTRY_WRITTEN && !job.read_only &&
                  RBD_DataInPackage(job.offset, job.size, p.main->package_size);
    if (charge && !RBD_ChargeOutput(p.main->budget, job.size)) {
        // Earlier entries that write no file give their share back.
        RBD_SettleEntries(p);
        if (!RBD_ChargeOutput(p.main->budget, job.size)) {
            WriteInline(p, job);
            return;
        }
    }
    p.pending.push_back(RBDPendingEntry{std::move(job), charge});
    if (p.pending.size() >= kPutAtOnce) {
        std::unique_lock<std::mutex> hold(p.lock);
        PutPending(p, hold);
    }
}

void RBD_SettleEntries(RBDParallel &p) {
    if (p.workers.empty()) {
        return;
    }
    std::unique_lock<std::mutex> hold(p.lock);
    PutPending(p, hold);
    SettleReady(p, hold);
    while (!RBD_QueueEmpty(p.queue)) {
        WaitForResult(p, hold, 1);
        SettleReady(p, hold);
    }
}

void RBD_EndParallel(RBDParallel &p) {
    if (p.workers.empty()) {
        return;
    }
    RBD_SettleEntries(p);
    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.stopping = true;
    }
    p.work.notify_all();
    for (std::unique_ptr<RBDWorker> &w : p.workers) {
        w->thread.join();
        RBD_EndExtraction(w->x);
    }
    p.workers.clear();
    p.main->options = p.main_options;
}

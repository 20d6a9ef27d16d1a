#include "entry_queue.h"

#include "path_clash.h"

#include <algorithm>

namespace {

const size_t kMostBusyGroups = 64;

RBDSlot &At(const RBDEntryQueue &queue, uint64_t number) {
    return queue.slots[number % queue.capacity];
}

// Whether two entries may not be written at once. Within one group only the
// same name clashes: a name that holds a separator is refused before
// anything is made, and entries of one group make the same directories,
// which workers may do at once.
bool SlotsClash(const RBDSlot &a, const RBDSlot &b) {
    if (a.group_id == b.group_id) {
        // From the end: the group's part is the same.
        return a.key.size() == b.key.size() &&
               std::equal(a.key.rbegin(), a.key.rend(), b.key.rbegin());
    }
    return RBD_KeysClash(a.key, b.key);
}

} // namespace

void RBD_StartQueue(RBDEntryQueue &queue, size_t capacity) {
    queue.capacity = capacity > 0 ? capacity : 1;
    queue.slots.reset(new RBDSlot[queue.capacity]);
    queue.head = 0;
    queue.tail = 0;
    queue.group_id = 0;
    queue.last_group.clear();
}

bool RBD_QueueFull(const RBDEntryQueue &queue) {
    return queue.tail - queue.head >= queue.capacity;
}

bool RBD_QueueEmpty(const RBDEntryQueue &queue) {
    return queue.tail == queue.head;
}

void RBD_PushEntry(RBDEntryQueue &queue, RBDEntryJob &&job, bool reserved) {
    RBDSlot &slot = At(queue, queue.tail);
    if (job.group != queue.last_group) {
        queue.last_group = job.group;
        ++queue.group_id;
    }
    slot.key = RBD_ClashKeyOf(job.group.c_str(), job.name.c_str());
    slot.group_id = queue.group_id;
    slot.reserved = reserved;
    slot.moved.store(0, std::memory_order_relaxed);
    slot.begun = job.preset;
    slot.result = RBDEntryResult{job.preset, false, 0};
    slot.state = job.preset == RBD_ENTRY_WRITTEN ? RBD_SLOT_WAITING : RBD_SLOT_DONE;
    slot.blockers = 0;
    slot.job = std::move(job);
    if (slot.state == RBD_SLOT_WAITING && !slot.job.read_only) {
        for (uint64_t n = queue.head; n < queue.tail; ++n) {
            const RBDSlot &earlier = At(queue, n);
            if (earlier.state != RBD_SLOT_DONE && !earlier.job.read_only &&
                SlotsClash(earlier, slot)) {
                ++slot.blockers;
            }
        }
    }
    ++queue.tail;
}

// The queue's slots are changed through it, though not the queue itself.
// cppcheck-suppress constParameter
RBDSlot *RBD_PickReady(RBDEntryQueue &queue, uint64_t preferred) {
    RBDSlot *first = nullptr;
    RBDSlot *idle_group = nullptr;
    // The groups being written; a few workers at most, each in one.
    uint64_t busy[kMostBusyGroups];
    size_t busy_count = 0;
    for (uint64_t n = queue.head; n < queue.tail && busy_count < kMostBusyGroups; ++n) {
        const RBDSlot &slot = At(queue, n);
        if (slot.state == RBD_SLOT_RUNNING) {
            busy[busy_count++] = slot.group_id;
        }
    }
    for (uint64_t n = queue.head; n < queue.tail; ++n) {
        RBDSlot &slot = At(queue, n);
        if (slot.state != RBD_SLOT_WAITING || slot.blockers != 0) {
            continue;
        }
        if (slot.group_id == preferred) {
            return &slot;
        }
        if (first == nullptr) {
            first = &slot;
        }
        bool taken = false;
        for (size_t i = 0; i < busy_count; ++i) {
            taken = taken || busy[i] == slot.group_id;
        }
        if (idle_group == nullptr && !taken) {
            idle_group = &slot;
        }
    }
    return idle_group != nullptr ? idle_group : first;
}

size_t RBD_PickReadyRun(RBDEntryQueue &queue, uint64_t preferred, RBDSlot **out, size_t most,
                        uint64_t most_bytes) {
    RBDSlot *first = RBD_PickReady(queue, preferred);
    if (first == nullptr || most == 0) {
        return 0;
    }
    size_t count = 0;
    out[count++] = first;
    uint64_t bytes = first->job.size;
    uint64_t n = queue.head;
    while (&At(queue, n) != first) {
        ++n;
    }
    for (++n; n < queue.tail && count < most; ++n) {
        RBDSlot &slot = At(queue, n);
        if (slot.group_id != first->group_id) {
            break;
        }
        if (slot.state == RBD_SLOT_WAITING && slot.blockers == 0) {
            bytes += slot.job.size;
            if (bytes > most_bytes) {
                break;
            }
            out[count++] = &slot;
        }
    }
    return count;
}

// The queue's slots are changed through it, though not the queue itself.
// cppcheck-suppress constParameter
bool RBD_MarkDone(RBDEntryQueue &queue, RBDSlot &slot) {
    slot.state = RBD_SLOT_DONE;
    bool freed = false;
    if (slot.job.read_only) {
        return false;
    }
    uint64_t n = queue.head;
    while (&At(queue, n) != &slot) {
        ++n;
    }
    for (++n; n < queue.tail; ++n) {
        RBDSlot &later = At(queue, n);
        if (later.state == RBD_SLOT_WAITING && !later.job.read_only && SlotsClash(slot, later)) {
            --later.blockers;
            freed = freed || later.blockers == 0;
        }
    }
    return freed;
}

// The queue's slots are changed through it, though not the queue itself.
// cppcheck-suppress constParameter
RBDSlot *RBD_DoneFront(RBDEntryQueue &queue) {
    if (RBD_QueueEmpty(queue) || At(queue, queue.head).state != RBD_SLOT_DONE) {
        return nullptr;
    }
    return &At(queue, queue.head);
}

size_t RBD_DoneAtFront(const RBDEntryQueue &queue, size_t most) {
    size_t count = 0;
    for (uint64_t n = queue.head; n < queue.tail && count < most; ++n, ++count) {
        if (At(queue, n).state != RBD_SLOT_DONE) {
            break;
        }
    }
    return count;
}

void RBD_PopFront(RBDEntryQueue &queue) {
    ++queue.head;
}

uint64_t RBD_BytesMoving(const RBDEntryQueue &queue) {
    uint64_t bytes = 0;
    for (uint64_t n = queue.head; n < queue.tail; ++n) {
        bytes += At(queue, n).moved.load(std::memory_order_relaxed);
    }
    return bytes;
}

// A table of numbers by path: an entry's number under its normal path, a
// group's under its normal group path. The table keeps no text: a hit is a
// number whose hash tag matches, and the caller compares that number's path
// itself. Several numbers may share a path (a base may repeat paths), and a
// number whose path changed stays under its old hash until the table is
// built anew, so every hit must be checked. The hash is keyed anew for each
// table, so that no package can choose paths that all meet in one slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RBDTableSlot {
    uint32_t id_plus_one; // 0: the slot is free
    uint32_t tag;         // the hash's high bits
};

struct RBDPathTable {
    std::vector<RBDTableSlot> slots; // a power of two; never more than 3/4 taken
    size_t used;
    uint64_t key[2];
};

// Empties the table and sizes it for `count` numbers, at most half taken,
// with a new key. Throws std::bad_alloc.
void RBD_ResetTable(RBDPathTable &table, size_t count);

// True when one more number would leave the table more than 3/4 taken: the
// caller then builds it anew (for what it holds, at most half taken, so
// that the next rebuild waits until it grew by half), from the numbers still
// in use.
bool RBD_TableWantsRoom(const RBDPathTable &table);

uint64_t RBD_HashPath(const RBDPathTable &table, const char *path, size_t length);

// Adds `id` under `hash`; the table must have room (RBD_TableWantsRoom).
void RBD_TableAdd(RBDPathTable &table, uint64_t hash, uint32_t id);

// The numbers added under hashes like `hash`, one at a time.
struct RBDTableCursor {
    size_t slot;
    uint32_t tag;
    bool started;
};
RBDTableCursor RBD_TableFirst(const RBDPathTable &table, uint64_t hash);
bool RBD_TableNext(const RBDPathTable &table, RBDTableCursor &cursor, uint32_t *id);

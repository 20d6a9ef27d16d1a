#include "path_table.h"

#include "../lib/siphash.h"

RBDTableCursor RBD_TableFirst(const RBDPathTable &table, uint64_t hash) {
    return RBDTableCursor{static_cast<size_t>(hash) & (table.slots.size() - 1),
                          static_cast<uint32_t>(hash >> 32), false};
}

void RBD_ResetTable(RBDPathTable &table, size_t count) {
    size_t wanted = 16;
    while (wanted < 2 * count + 2) {
        wanted *= 2;
    }
    std::vector<RBDTableSlot>(wanted, RBDTableSlot{0, 0}).swap(table.slots);
    table.used = 0;
    RBD_DrawHashKey(table.key, &table, table.slots.data());
}

bool RBD_TableWantsRoom(const RBDPathTable &table) {
    return 4 * (table.used + 1) > 3 * table.slots.size();
}

uint64_t RBD_HashPath(const RBDPathTable &table, const char *path, size_t length) {
    return RBD_SipHash13(table.key, path, length);
}

void RBD_TableAdd(RBDPathTable &table, uint64_t hash, uint32_t id) {
    size_t mask = table.slots.size() - 1;
    size_t slot = static_cast<size_t>(hash) & mask;
    // Never full, so a free slot comes.
    while (table.slots[slot].id_plus_one != 0) {
        slot = (slot + 1) & mask;
    }
    table.slots[slot] = RBDTableSlot{id + 1, static_cast<uint32_t>(hash >> 32)};
    ++table.used;
}

bool RBD_TableNext(const RBDPathTable &table, RBDTableCursor &cursor, uint32_t *id) {
    size_t mask = table.slots.size() - 1;
    for (;;) {
        if (cursor.started) {
            cursor.slot = (cursor.slot + 1) & mask;
        }
        cursor.started = true;
        const RBDTableSlot &slot = table.slots[cursor.slot];
        if (slot.id_plus_one == 0) {
            return false;
        }
        if (slot.tag == cursor.tag) {
            *id = slot.id_plus_one - 1;
            return true;
        }
    }
}

#include "package_table.h"

#include "errors.h"
#include "siphash.h"

#include <cstring>
#include <new>

namespace {

const char *PathOf(const kr_package &pkg, uint32_t entry) {
    return pkg.entries[entry].path;
}

bool IsUnsafe(const RBDEntryRecord &entry) {
    return (entry.flags & KR_ENTRY_UNSAFE) != 0;
}

uint64_t HashPath(const kr_package &pkg, const char *path) {
    return RBD_SipHash13(pkg.hash_key, path, std::strlen(path));
}

// The slot that holds `path`, or the free slot where it would go. The table
// is never full, so the probe ends.
size_t FindSlot(const kr_package &pkg, const char *path, uint64_t hash) {
    size_t mask = pkg.slots.size() - 1;
    auto tag = static_cast<uint32_t>(hash >> 32);
    for (size_t slot = static_cast<size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        const RBDPathSlot &at = pkg.slots[slot];
        if (at.entry_plus_one == 0) {
            return slot;
        }
        if (at.hash_tag == tag && std::strcmp(PathOf(pkg, at.entry_plus_one - 1), path) == 0) {
            return slot;
        }
    }
}

} // namespace

bool RBD_IndexPaths(kr_package &pkg) {
    size_t wanted = 16;
    while (wanted < 2 * pkg.entries.size()) {
        wanted *= 2;
    }
    try {
        pkg.slots.assign(wanted, RBDPathSlot{0, 0});
    } catch (const std::bad_alloc &) {
        return false;
    }
    RBD_DrawHashKey(pkg.hash_key, &pkg, pkg.slots.data());
    for (uint32_t entry = 0; entry < pkg.entries.size(); ++entry) {
        const char *path = PathOf(pkg, entry);
        uint64_t hash = HashPath(pkg, path);
        RBDPathSlot &slot = pkg.slots[FindSlot(pkg, path, hash)];
        if (slot.entry_plus_one != 0) {
            // Extraction refuses an unsafe entry and leaves the file of an
            // earlier safe one of the same path ("g/" + "a/b" after
            // "g/a/" + "b"): that earlier one is what the path finds.
            RBDEntryRecord &earlier = pkg.entries[slot.entry_plus_one - 1];
            if (IsUnsafe(pkg.entries[entry]) && !IsUnsafe(earlier)) {
                continue;
            }
            earlier.flags |= KR_ENTRY_SHADOWED;
        }
        slot = RBDPathSlot{entry + 1, static_cast<uint32_t>(hash >> 32)};
    }
    return true;
}

int64_t RBD_FindPath(const kr_package &pkg, const char *path) {
    if (pkg.slots.empty()) {
        return -1;
    }
    const RBDPathSlot &slot = pkg.slots[FindSlot(pkg, path, HashPath(pkg, path))];
    return slot.entry_plus_one == 0 ? -1 : int64_t{slot.entry_plus_one} - 1;
}

void RBD_ViewEntry(const kr_package &pkg, uint32_t index, kr_entry &out) {
    const RBDEntryRecord &entry = pkg.entries[index];
    out.index = index;
    out.flags = entry.flags & RBD_PUBLIC_FLAGS;
    out.offset = entry.offset;
    out.size = entry.size;
    out.group = entry.group;
    out.name = entry.path + entry.group_length;
    out.path = entry.path;
}

int RBD_NeedDescriptor(const kr_package &pkg, const char *what, kr_error *err) {
    if (pkg.fd >= 0) {
        return KR_OK;
    }
    return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                        "%s needs a package opened from a file, not through a read function", what);
}

#include "verdict.h"

#include "../extract/entry_data.h"
#include "../package/safe_name.h"

#include <cstring>

RBDEntryOutcome RBD_VerdictOf(const kr_package &pkg, uint32_t index, const char *root_name) {
    const RBDEntryRecord &record = pkg.entries[index];
    kr_entry entry;
    RBD_ViewEntry(pkg, index, entry);
    if ((record.flags & KR_ENTRY_UNSAFE_GROUP) != 0 || !IsSafeName(entry.name)) {
        return RBD_ENTRY_UNSAFE;
    }
    // The group path's length as the package spells it: the output path is
    // measured so, whatever the entry's path is made to look like.
    size_t name_length = std::strlen(entry.name);
    if (!RBD_OutputLengthFits(std::strlen(root_name), record.raw_group_length, name_length)) {
        return RBD_ENTRY_TOO_LONG;
    }
    return name_length == 0 ? RBD_ENTRY_EMPTY_NAME : RBD_ENTRY_WRITTEN;
}

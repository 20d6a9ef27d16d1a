#include "entry_paths.h"

#include <cstdint>
#include <cstring>
#include <new>

RBDTableText RBD_KeepTableText(RBDTextStore &store, const RBDWalkEvent &event) {
    size_t group_length = std::strlen(event.normal_group_path);
    // The walk read the table whole, so the package holds its records: the
    // sum can't wrap in 64 bits, but may pass what a 32-bit host can hold.
    uint64_t bytes = group_length + 1;
    for (uint32_t i = 0; i < event.file_count; ++i) {
        bytes += group_length + std::strlen(event.files[i].name) + 1;
    }
    if (bytes > SIZE_MAX) {
        throw std::bad_alloc();
    }
    char *room = RBD_TextRoom(store, static_cast<size_t>(bytes));
    std::memcpy(room, event.normal_group_path, group_length + 1);
    return RBDTableText{room, group_length, room + group_length + 1};
}

const char *RBD_KeepEntryPath(RBDTableText &text, const char *name) {
    char *path = text.next;
    size_t name_length = std::strlen(name);
    std::memcpy(path, text.group, text.group_length);
    std::memcpy(path + text.group_length, name, name_length + 1);
    text.next += text.group_length + name_length + 1;
    return path;
}

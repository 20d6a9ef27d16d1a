#include "entries_left.h"

#include "../../extract/engine.h"
#include "../../package/entry_paths.h"
#include "../../package/walk.h"
#include "../output/messages.h"
#include "../package_name.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// By entry in index order: whether an extraction leaves it.
std::vector<bool> left;
size_t next_entry;

// The path under the output root of an entry that extraction writes.
struct RBDWrittenPath {
    const char *path;
    size_t entry;
};

bool IsRefused(const RBDWalkEvent &event) {
    const char *name = event.files->name;
    return name[0] == '\0' || RBD_EntryVerdict(package_name, event.group_path, name,
                                               event.safe_group) != RBD_ENTRY_WRITTEN;
}

// The paths of the entries that extraction writes, from a walk of the index
// alone, and the number of entries met.
size_t CollectWrittenPaths(int package_fd, RBDTextStore &text,
                           std::vector<RBDWrittenPath> &written) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, package_fd)) {
        return 0;
    }
    RBDTableText table{};
    size_t entries = 0;
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        if (event.kind == RBD_EVENT_DONE || event.kind == RBD_EVENT_FAILED) {
            return entries;
        }
        if (event.kind == RBD_EVENT_FILE_TABLE) {
            table = RBD_KeepTableText(text, event);
        } else if (event.kind == RBD_EVENT_ENTRY) {
            if (!IsRefused(event)) {
                written.push_back({RBD_KeepEntryPath(table, event.files->name), entries});
            }
            ++entries;
        }
    }
}

// Sorted by path, the entries of one path in index order: the last of each
// run is what extraction leaves there. A sort costs no memory of its own and
// no more time for names a package chose against it.
void NoteLastOfEachPath(std::vector<RBDWrittenPath> &written, size_t entries) {
    std::sort(written.begin(), written.end(), [](const RBDWrittenPath &a, const RBDWrittenPath &b) {
        int order = std::strcmp(a.path, b.path);
        return order < 0 || (order == 0 && a.entry < b.entry);
    });
    left.assign(entries, false);
    for (size_t i = 0; i < written.size(); ++i) {
        if (i + 1 == written.size() || std::strcmp(written[i].path, written[i + 1].path) != 0) {
            left[written[i].entry] = true;
        }
    }
}

} // namespace

void RBD_FindEntriesLeft(int package_fd) {
    try {
        RBDTextStore text{};
        std::vector<RBDWrittenPath> written;
        size_t entries = CollectWrittenPaths(package_fd, text, written);
        NoteLastOfEachPath(written, entries);
    } catch (const std::bad_alloc &) {
        RBD_Fatal("ERROR: Failed to allocate memory for the paths of the index, aborting!\n");
    }
    next_entry = 0;
}

bool RBD_NextIsLeft() {
    bool is_left = next_entry >= left.size() || left[next_entry];
    ++next_entry;
    return is_left;
}

void RBD_ForgetEntriesLeft() {
    std::vector<bool>().swap(left);
    next_entry = 0;
}

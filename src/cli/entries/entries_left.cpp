#include "entries_left.h"

#include "../../extract/engine.h"
#include "../../package/entry_paths.h"
#include "../../package/walk.h"
#include "../output/messages.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The path under the output root of an entry that extraction writes.
struct RBDWrittenPath {
    const char *path;
    size_t entry;
};

bool IsRefused(const char *root_name, const RBDWalkEvent &event) {
    const char *name = event.files->name;
    return name[0] == '\0' || RBD_EntryVerdict(root_name, event.group_path, name,
                                               event.safe_group) != RBD_ENTRY_WRITTEN;
}

// The paths of the entries that extraction writes, from a walk of the index
// alone, and the number of entries met.
size_t CollectWrittenPaths(const RBDRunPackage &package, RBDTextStore &text,
                           std::vector<RBDWrittenPath> &written) {
    RBDWalk walk;
    if (!RBD_StartWalk(walk, package.fd)) {
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
            if (!IsRefused(package.root_name, event)) {
                written.push_back({RBD_KeepEntryPath(table, event.files->name), entries});
            }
            ++entries;
        }
    }
}

// Sorted by path, the entries of one path in index order: the last of each
// run is what extraction leaves there. A sort costs no memory of its own and
// no more time for names a package chose against it.
void NoteLastOfEachPath(std::vector<RBDWrittenPath> &written, size_t entries,
                        std::vector<bool> &left) {
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

void RBD_FindEntriesLeft(RBDRun &run) {
    try {
        RBDTextStore text{};
        std::vector<RBDWrittenPath> written;
        size_t entries = CollectWrittenPaths(run.package, text, written);
        NoteLastOfEachPath(written, entries, run.entries_left.left);
    } catch (const std::bad_alloc &) {
        RBD_Fatal(run.out,
                  "ERROR: Failed to allocate memory for the paths of the index, aborting!\n");
    }
    run.entries_left.next = 0;
}

bool RBD_NextIsLeft(RBDEntriesLeft &entries_left) {
    const std::vector<bool> &left = entries_left.left;
    bool is_left = entries_left.next >= left.size() || left[entries_left.next];
    ++entries_left.next;
    return is_left;
}

void RBD_ForgetEntriesLeft(RBDEntriesLeft &entries_left) {
    std::vector<bool>().swap(entries_left.left);
    entries_left.next = 0;
}

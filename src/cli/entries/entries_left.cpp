#include "entries_left.h"

#include "../../extract/engine.h"
#include "../../package/entry_paths.h"
#include "../output/messages.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

bool IsRefused(const char *root_name, const RBDWalkEvent &event) {
    const char *name = event.files->name;
    return name[0] == '\0' || RBD_EntryVerdict(root_name, event.group_path, name,
                                               event.safe_group) != RBD_ENTRY_WRITTEN;
}

// Sorted by path, the entries of one path in index order: the last of each
// run is what extraction leaves there, and stays alone. A sort costs no
// memory of its own and no more time for names a package chose against it.
void KeepLastOfEachPath(std::vector<RBDEntryLeft> &written) {
    std::sort(written.begin(), written.end(), [](const RBDEntryLeft &a, const RBDEntryLeft &b) {
        int order = std::strcmp(a.path, b.path);
        return order < 0 || (order == 0 && a.entry < b.entry);
    });
    size_t kept = 0;
    for (size_t i = 0; i < written.size(); ++i) {
        if (i + 1 == written.size() || std::strcmp(written[i].path, written[i + 1].path) != 0) {
            written[kept++] = written[i];
        }
    }
    written.resize(kept);
}

} // namespace

size_t RBD_CollectEntriesLeft(int fd, const char *root_name, RBDTextStore &text,
                              std::vector<RBDEntryLeft> &left, RBDWalkError &error) {
    left.clear();
    error = RBDWalkError{};
    RBDWalk walk;
    if (!RBD_StartWalk(walk, fd)) {
        error = walk.error;
        return 0;
    }
    RBDTableText table{};
    size_t entries = 0;
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        if (event.kind == RBD_EVENT_DONE || event.kind == RBD_EVENT_FAILED) {
            break;
        }
        if (event.kind == RBD_EVENT_FILE_TABLE) {
            table = RBD_KeepTableText(text, event);
        } else if (event.kind == RBD_EVENT_ENTRY) {
            if (!IsRefused(root_name, event)) {
                const char *path = RBD_KeepEntryPath(table, event.files->name);
                left.push_back({path, entries, event.files->offset, event.files->size});
            }
            ++entries;
        }
    }
    if (walk.error.problem != RBD_PROBLEM_NONE) {
        error = walk.error;
    }
    KeepLastOfEachPath(left);
    return entries;
}

void RBD_FindEntriesLeft(RBDRun &run) {
    try {
        RBDTextStore text{};
        std::vector<RBDEntryLeft> left;
        RBDWalkError error;
        size_t entries =
            RBD_CollectEntriesLeft(run.package.fd, run.package.root_name, text, left, error);
        // A damaged index stops the walk that follows at the same place,
        // which says so.
        run.entries_left.left.assign(entries, false);
        for (const RBDEntryLeft &entry : left) {
            run.entries_left.left[entry.entry] = true;
        }
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

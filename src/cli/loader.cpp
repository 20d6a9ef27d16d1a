#include "loader.h"

#include "../lib/system_text.h"
#include "../package/header_text.h"
#include "../package/open_package.h"
#include "../package/walk.h"
#include "entries/entry_action.h"
#include "entries/writer.h"
#include "output/messages.h"
#include "output/shown_text.h"
#include "output/status_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
void ClosePackage(int fd) {
    _close(fd);
}
#else
void ClosePackage(int fd) {
    close(fd);
}
#endif

} // namespace

int RBD_OpenPackageOrFail(RBDRun &run, const char *path) {
    RBDOpenFailure failure{};
    int fd = RBD_OpenPackageFile(path, failure);
    if (fd >= 0) {
        return fd;
    }
    const char *shown = ShownInMessage(path);
    if (!run.mode.options) {
        RBD_Fatal(run.out, "ERROR: Failed to open package \"%s\", aborting!\n", shown);
    }
    if (failure.kind != nullptr) {
        RBD_Fatal(run.out, "ERROR: \"%s\" is %s, not a regular file or block device, aborting!\n",
                  shown, failure.kind);
    }
    char text[128];
    RBD_Fatal(run.out, "ERROR: Failed to open \"%s\": %s, aborting!\n", shown,
              RBD_SystemText(failure.os_error, text, sizeof text));
}

namespace {

// Closes the package however the load ends: a fatal error in a harness that
// catches it (the fuzz target) unwinds through here.
struct OpenPackageFile {
    RBDRun &run;
    int fd;
    ~OpenPackageFile() {
        RBD_EndEntries(run);
        ClosePackage(fd);
        run.package.fd = -1;
    }
};

// Option mode: a file that is no package says so in one line, with the
// reason, in the words of the library's errors.
void FailHeaderInFull(RBDStreams &out, const RBDWalkError &error, const char *path) {
    const char *shown = ShownInMessage(path);
    if (error.problem == RBD_PROBLEM_HEADER_SHORT && error.os_error != 0) {
        char text[128];
        RBD_Fatal(out, "ERROR: Failed to read \"%s\": %s, aborting!\n", shown,
                  RBD_SystemText(error.os_error, text, sizeof text));
    }
    char problem[128];
    if (RBD_WordHeaderProblem(error, problem, sizeof problem)) {
        RBD_Fatal(out, "ERROR: \"%s\" is %s, aborting!\n", shown, problem);
    }
}

} // namespace

void RBD_FailWalk(RBDRun &run, const RBDWalkError &error, const char *raw_path) {
    RBDStreams &out = run.out;
    if (run.mode.options) {
        FailHeaderInFull(out, error, raw_path);
    }
    const char *path = ShownInMessage(raw_path);
    switch (error.problem) {
    case RBD_PROBLEM_NONE:
        break;
    case RBD_PROBLEM_HEADER_SHORT:
        RBD_Fatal(out, "ERROR: Failed to read RBD header for \"%s\", aborting!\n", path);
    case RBD_PROBLEM_NO_INDICES:
        RBD_Fatal(out, "ERROR: Invalid number of indices for \"%s\", aborting!\n", path);
    case RBD_PROBLEM_VERSION:
        RBD_Fatal(out, "ERROR: Unknown RBD version, got %X!\n",
                  static_cast<unsigned>(error.version));
    case RBD_PROBLEM_COMMENT:
        RBD_Fatal(out, "ERROR: Invalid RBD package comment, got %s, aborting!\n",
                  ShownInMessage(error.text));
    case RBD_PROBLEM_SIZE:
        RBD_Fatal(out, "ERROR: Failed to seek in package, aborting!\n");
    case RBD_PROBLEM_GROUP_SHORT:
        RBD_Fatal(out, "ERROR: Failed to read RBDGroupHeader for \"%s\", aborting!\n", path);
    case RBD_PROBLEM_PATH_TOO_LONG:
        RBD_Fatal(out, "ERROR: Group path too long in \"%s\", aborting!\n", path);
    case RBD_PROBLEM_CHILD_MISSING:
        RBD_Fatal(out, "ERROR: Failed to load child of %s, aborting!\n",
                  ShownInMessage(error.text));
    case RBD_PROBLEM_TABLE_SHORT:
        RBD_Fatal(out, "ERROR: Failed to read in all file indices!\n");
    case RBD_PROBLEM_TABLE_NOMEM:
        RBD_Fatal(out, "ERROR: Failed to allocate RBDFileIndex container!\n");
    }
    RBD_Fatal(out, "ERROR: Failed to load RBD package \"%s\", aborting!\n", path);
}

namespace {

void *AllocateOrFail(RBDStreams &out, size_t count, size_t size, const char *what) {
    void *memory = std::calloc(count > 0 ? count : 1, size);
    if (memory == nullptr) {
        RBD_Fatal(out, "ERROR: Failed to allocate %s!\n", what);
    }
    return memory;
}

// The contents report lists the top-level groups with the file tables of the
// top-level file groups; they are kept as the walk hands them up.
RBDGroup *KeepTopLevelGroup(RBDStreams &out, const RBDWalkEvent &event) {
    auto *group = static_cast<RBDGroup *>(
        AllocateOrFail(out, 1, sizeof(RBDGroup), "memory for group container, aborting"));
    group->header = *event.group;
    return group;
}

void KeepFileTable(RBDStreams &out, RBDGroup *group, const RBDWalkEvent &event) {
    group->files = static_cast<RBDFileHeader *>(
        AllocateOrFail(out, event.file_count, sizeof(RBDFileHeader), "RBDFileIndex container"));
    if (event.file_count > 0) {
        std::memcpy(group->files, event.files, event.file_count * sizeof(RBDFileHeader));
    }
}

// The chain of top-level groups, as the walk hands them up.
struct RBDTopLevel {
    RBDGroup **insert_point; // where the next top-level group is chained
    RBDGroup *current;       // the group record just read, when top-level; else null
};

// A group record: counted, kept when it is top-level, its flag checked.
void MeetGroup(RBDRun &run, RBDTopLevel &top, const RBDWalkEvent &event) {
    ++run.totals.groups;
    top.current = nullptr;
    if (event.depth == 0) {
        top.current = KeepTopLevelGroup(run.out, event);
        *top.insert_point = top.current;
        top.insert_point = &top.current->next;
    }
    if (event.group->flags != RBD_DIRECTORY_GROUP && event.group->flags != RBD_FILE_GROUP) {
        RBD_SettleWrites(run); // the lines of the entries before it come first
        RBD_Warning(run.out, "WARNING: Unknown group flag, %x, aborting!\n", event.group->flags);
    }
}

// Follows the walk to its end, handing each event to the run.
void Walk(RBDRun &run, RBDWalk &walk, RBDPackage *package) {
    RBDTopLevel top{&package->groups, nullptr};
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        package->records_read = walk.counter;
        switch (event.kind) {
        case RBD_EVENT_GROUP:
            MeetGroup(run, top, event);
            break;
        case RBD_EVENT_FILE_TABLE:
            if (top.current != nullptr) {
                KeepFileTable(run.out, top.current, event);
            }
            break;
        case RBD_EVENT_ENTRY:
            RBD_HandleEntry(run, event);
            break;
        case RBD_EVENT_END_OF_INDEX:
            RBD_SettleWrites(run);
            if (!run.mode.hide_progress) {
                RBD_ClearStatusForStdout(run.out.status);
                std::puts("Reached end of package indices.");
            }
            break;
        case RBD_EVENT_DONE:
            return;
        case RBD_EVENT_FAILED:
            RBD_FailWalk(run, walk.error, package->path);
        }
    }
}

} // namespace

RBDPackage *RBD_LoadPackage(RBDRun &run) {
    const char *path = run.package.path;
    int fd = RBD_OpenPackageOrFail(run, path);
    OpenPackageFile package_file{run, fd};
    auto *package = static_cast<RBDPackage *>(
        AllocateOrFail(run.out, 1, sizeof(RBDPackage), "memory for package container, aborting"));
    run.package.in_load = package;
    if (std::strlen(path) > RBD_MAX_PATH) {
        RBD_Fatal(run.out, "ERROR: Package path too long, \"%s\", aborting!\n",
                  ShownInMessage(path));
    }
    std::strcpy(package->path, path);
    RBDWalk walk;
    if (!RBD_StartWalk(walk, fd)) {
        RBD_FailWalk(run, walk.error, path);
    }
    package->header = walk.header;
    run.package.fd = fd;
    run.package.size = walk.package_size;
    RBD_StartEntries(run);
    Walk(run, walk, package);
    run.package.in_load = nullptr;
    return package;
}

void RBD_FreePackage(RBDPackage *package) {
    RBDGroup *group = package->groups;
    while (group != nullptr) {
        RBDGroup *next = group->next;
        std::free(group->files);
        std::free(group);
        group = next;
    }
    std::free(package);
}

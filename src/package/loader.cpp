#include "loader.h"

#include "../byteorder.h"
#include "../extract/entry_action.h"
#include "../extract/package_guard.h"
#include "../extract/writer.h"
#include "../output/shown_text.h"
#include "../run_mode.h"
#include "group_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/types.h>

namespace {

[[noreturn]] void Fail(const char *line) {
    std::puts(line);
    RBD_Exit(1);
}

// The counter never wraps: a package claiming more than 4G records would
// otherwise send the walk round again.
void CountIndices(uint32_t count) {
    num_indices = count > UINT32_MAX - num_indices ? UINT32_MAX : num_indices + count;
}

// Entries are checked against the package's length before any memory is
// obtained for them, so a package cannot make us allocate what it lacks.
uint64_t MeasurePackage() {
    off_t start = ftello(fp);
    if (start < 0 || fseeko(fp, 0, SEEK_END) != 0) {
        Fail("ERROR: Failed to seek in package, aborting!");
    }
    off_t end = ftello(fp);
    if (end < 0 || fseeko(fp, start, SEEK_SET) != 0) {
        Fail("ERROR: Failed to seek in package, aborting!");
    }
    return static_cast<uint64_t>(end);
}

void ReadHeader(RBDPackage *package, const char *path) {
    std::memset(&package->header, 0, sizeof package->header);
    if (std::fread(&package->header, sizeof package->header, 1, fp) != 1) {
        std::printf("ERROR: Failed to read RBD header for \"%s\", aborting!\n", path);
        RBD_Exit(1);
    }
    RBDHeader &header = package->header;
    header.num_indices = ntohl(header.num_indices);
    if (header.num_indices == 0) {
        std::printf("ERROR: Invalid number of indices for \"%s\", aborting!\n", path);
        RBD_Exit(1);
    }
    header.version = ntohs(header.version);
    if (header.version != RBD_VERSION) {
        std::printf("ERROR: Unknown RBD version, got %X!\n", static_cast<unsigned>(header.version));
        RBD_Exit(1);
    }
    if (std::strncmp(header.comments, header_msg, sizeof header_msg) != 0) {
        std::string comment(header.comments, strnlen(header.comments, sizeof header.comments));
        std::printf("ERROR: Invalid RBD package comment, got %s, aborting!\n",
                    ShownInMessage(comment.c_str()));
        RBD_Exit(1);
    }
}

void FreeGroup(RBDGroup *group) {
    std::free(group->files);
    std::free(group);
}

void LoadDirectoryGroup(RBDPackage *package, RBDGroup *group) {
    for (uint32_t i = 0; i < group->header.num_indices; ++i) {
        RBDGroup *child = RBD_LoadGroup(package, group);
        if (child == nullptr) {
            std::printf("ERROR: Failed to load child of %s, aborting!\n",
                        ShownInMessage(group->header.name));
            RBD_Exit(1);
        }
        // Children are not linked into the tree, so they are done with here.
        FreeGroup(child);
    }
}

void LoadFileGroup(RBDGroup *group, const char *group_path) {
    uint32_t count = group->header.num_indices;
    off_t table_start = ftello(fp);
    if (table_start < 0 ||
        static_cast<uint64_t>(table_start) + uint64_t{count} * sizeof(RBDFileHeader) >
            package_size) {
        Fail("ERROR: Failed to read in all file indices!");
    }
    group->files =
        static_cast<RBDFileHeader *>(std::calloc(count > 0 ? count : 1, sizeof(RBDFileHeader)));
    if (group->files == nullptr) {
        Fail("ERROR: Failed to allocate RBDFileIndex container!");
    }
    if (std::fread(group->files, sizeof(RBDFileHeader), count, fp) != count) {
        Fail("ERROR: Failed to read in all file indices!");
    }
    CountIndices(count);

    bool safe = IsSafeGroup(group);
    for (uint32_t i = 0; i < count; ++i) {
        RBDFileHeader &file = group->files[i];
        file.name[sizeof file.name - 1] = '\0';
        file.size = ntohl(file.size);
        file.offset = ntohl(file.offset);
        RBD_HandleEntry(group_path, file.name, file.offset, file.size, safe);
    }
}

} // namespace

RBDGroup *RBD_LoadGroup(RBDPackage *package, RBDGroup *parent) {
    CountIndices(1);
    if (num_indices >= package->header.num_indices) {
        if (!run_mode.hide_progress) {
            std::puts("Reached end of package indices.");
        }
        return nullptr;
    }

    auto *group = static_cast<RBDGroup *>(std::calloc(1, sizeof(RBDGroup)));
    if (group == nullptr) {
        Fail("ERROR: Failed to allocate memory for group container, aborting!");
    }
    if (std::fread(&group->header, sizeof group->header, 1, fp) != 1) {
        std::printf("ERROR: Failed to read RBDGroupHeader for \"%s\", aborting!\n", package->path);
        RBD_Exit(1);
    }
    // A name field without a zero byte is cut at its last byte.
    group->header.name[sizeof group->header.name - 1] = '\0';
    RBD_NoteGroup();
    group->files = nullptr;
    group->parent = parent;
    group->children = nullptr;
    group->next = nullptr;

    // The bound on the path also bounds how deep directory groups can nest.
    char group_path[RBD_MAX_PATH + 1] = {};
    if (!RecurseGroupPath(group_path, group)) {
        std::printf("ERROR: Group path too long in \"%s\", aborting!\n", package->path);
        RBD_Exit(1);
    }

    RBDGroupHeader &header = group->header;
    header.flags = ntohl(header.flags);
    header.num_indices = ntohl(header.num_indices);
    header.num_files = ntohl(header.num_files);

    if (header.flags == RBD_DIRECTORY_GROUP) {
        LoadDirectoryGroup(package, group);
    } else if (header.flags == RBD_FILE_GROUP) {
        LoadFileGroup(group, group_path);
    } else {
        RBD_Warning("WARNING: Unknown group flag, %x, aborting!\n", header.flags);
    }
    return group;
}

RBDPackage *RBD_LoadPackage(const char *path) {
    fp = std::fopen(path, "rb");
    if (fp == nullptr) {
        std::printf("ERROR: Failed to open package \"%s\", aborting!\n", path);
        RBD_Exit(1);
    }
    // Every read is of a whole record, a whole file table or a whole entry,
    // and entries send the stream elsewhere and back: a stream buffer would
    // be refilled on every excursion and add a copy of every entry.
    std::setvbuf(fp, nullptr, _IONBF, 0);
    auto *package = static_cast<RBDPackage *>(std::calloc(1, sizeof(RBDPackage)));
    if (package == nullptr) {
        Fail("ERROR: Failed to allocate memory for package container, aborting!");
    }
    if (std::strlen(path) > RBD_MAX_PATH) {
        std::printf("ERROR: Package path too long, \"%s\", aborting!\n", path);
        RBD_Exit(1);
    }
    std::strcpy(package->path, path);
    ReadHeader(package, path);
    package_size = MeasurePackage();
    GuardPackage(fileno(fp));

    RBDGroup **insert_point = &package->groups;
    while (package->header.num_indices >= num_indices) {
        RBDGroup *group = RBD_LoadGroup(package, nullptr);
        if (group == nullptr) {
            break;
        }
        *insert_point = group;
        insert_point = &group->next;
    }

    RBD_CloseOutput();
    std::fclose(fp);
    fp = nullptr;
    return package;
}

void RBD_FreePackage(RBDPackage *package) {
    RBDGroup *group = package->groups;
    while (group != nullptr) {
        RBDGroup *next = group->next;
        FreeGroup(group);
        group = next;
    }
    std::free(package);
}

// Opening a package: the walk of its whole index, kept as a table of entries.
#include "../extract/engine.h"
#include "../extract/entry_data.h"
#include "../hostkit/hostkit.h"
#include "../package/entry_paths.h"
#include "../package/open_package.h"
#include "../package/walk.h"
#include "errors.h"
#include "package_table.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <new>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The package's own descriptor of the caller's file (hkReopenForReading),
// or -1 with the system's code in `*error`.
int Duplicate(int fd, int *error) {
    int own = hkReopenForReading(fd);
    *error = own >= 0 ? 0 : hkErrorCode();
    return own;
}

void CloseFile(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

// The flags that the package alone decides. Extraction into a directory of
// the caller's (root "") refuses what the command line refuses, and a name
// that no file can have.
uint32_t EntryFlags(const RBDWalkEvent &event, uint64_t package_size) {
    const RBDFileHeader &file = *event.files;
    uint32_t flags = event.safe_group ? 0 : KR_ENTRY_UNSAFE_GROUP;
    if (RBD_EntryVerdict("", event.group_path, file.name, event.safe_group) != RBD_ENTRY_WRITTEN ||
        file.name[0] == '\0') {
        flags |= KR_ENTRY_UNSAFE;
    }
    if (!RBD_DataInPackage(file.offset, file.size, package_size)) {
        flags |= KR_ENTRY_NO_DATA;
    }
    return flags;
}

// Adds the entry of an ENTRY event, one of the table that `text` was made
// for, so its path has room there.
void AddEntry(kr_package &pkg, const RBDWalkEvent &event, RBDTableText &text) {
    const RBDFileHeader &file = *event.files;
    RBDEntryRecord entry{};
    entry.offset = file.offset;
    entry.size = file.size;
    entry.flags = EntryFlags(event, pkg.info.package_size);
    // Both are at most RBD_MAX_PATH, as the walk checks.
    entry.group_length = static_cast<uint16_t>(text.group_length);
    entry.raw_group_length = static_cast<uint16_t>(std::strlen(event.group_path));
    entry.group = text.group;
    entry.path = RBD_KeepEntryPath(text, file.name);
    pkg.entries.push_back(entry);
}

// Walks the whole index into `pkg`. With `partial`, damage to the index ends
// the walk and is noted in the package's info instead of failing.
int ReadIndex(kr_package &pkg, RBDWalk &walk, bool partial, kr_error *err) {
    pkg.entries.reserve(static_cast<size_t>(RBD_RecordsHeld(walk)));
    RBDTableText text{};
    for (;;) {
        RBDWalkEvent event;
        RBD_NextEvent(walk, event);
        switch (event.kind) {
        case RBD_EVENT_GROUP:
        case RBD_EVENT_END_OF_INDEX:
            break;
        case RBD_EVENT_FILE_TABLE:
            text = RBD_KeepTableText(pkg.text, event);
            break;
        case RBD_EVENT_ENTRY:
            AddEntry(pkg, event, text);
            break;
        case RBD_EVENT_DONE:
            return KR_OK;
        case RBD_EVENT_FAILED: {
            int code = RBD_WalkErrorToCode(walk.error, err);
            if (!partial || code != KR_E_DAMAGED) {
                return code;
            }
            pkg.info.damaged = 1;
            RBD_WalkErrorToCode(walk.error, &pkg.info.damage);
            RBD_ClearError(err);
            return KR_OK;
        }
        }
    }
}

// Notes where the package was opened from, when the name its path leads to
// is still the file opened.
void NotePlace(kr_package &pkg, const char *path) {
    hkTarget *target = hkOpenTarget(path);
    hkFileStamp now{};
    pkg.placed = target != nullptr && hkTargetStamp(target, &now) && now.exists &&
                 now.volume == pkg.stamp.volume && now.file == pkg.stamp.file &&
                 hkTargetPlace(target, &pkg.place);
    hkCloseTarget(target);
}

// Opens the package read from `source`, whose descriptor (if any) it owns
// from here on; `path`, when not null, is where it was opened from.
int OpenOwned(const RBDPackageSource &source, const char *path, unsigned flags, kr_package **out,
              kr_error *err) {
    kr_package *pkg = new (std::nothrow) kr_package();
    if (pkg == nullptr) {
        if (source.fd >= 0) {
            CloseFile(source.fd);
        }
        return RBD_SetError(err, KR_E_NOMEM, 0, KR_NO_RECORD, "no memory for the package");
    }
    pkg->source = source;
    pkg->fd = source.fd;
    RBD_ClearError(&pkg->info.damage);
    if (source.fd < 0 || !hkDescriptorStamp(source.fd, &pkg->stamp)) {
        pkg->stamp = hkFileStamp{};
    }
    int code = KR_OK;
    try {
        RBDWalk walk;
        uint64_t size = 0;
        int error = 0;
        if (!RBD_SourceSize(source, &size, &error)) {
            // A pipe or a socket: nothing the library can read at an offset.
            char text[128];
            code = RBD_SetError(err, KR_E_IO, error, KR_NO_RECORD,
                                "the package can't be read at any offset: %s",
                                RBD_SystemText(error, text, sizeof text));
        } else if (!RBD_StartWalkOn(walk, source)) {
            code = RBD_WalkErrorToCode(walk.error, err);
        } else {
            pkg->info.package_size = walk.package_size;
            pkg->info.records = walk.header.num_indices;
            pkg->info.version = walk.header.version;
            code = ReadIndex(*pkg, walk, (flags & KR_OPEN_PARTIAL) != 0, err);
            pkg->info.groups = walk.groups_read;
        }
        if (code == KR_OK && !RBD_IndexPaths(*pkg)) {
            throw std::bad_alloc();
        }
    } catch (const std::bad_alloc &) {
        code = RBD_SetError(err, KR_E_NOMEM, 0, KR_NO_RECORD, "no memory for the package's index");
    }
    if (code != KR_OK) {
        kr_close(pkg);
        return code;
    }
    pkg->info.entries = static_cast<uint32_t>(pkg->entries.size());
    if (path != nullptr) {
        NotePlace(*pkg, path);
    }
    *out = pkg;
    return RBD_ClearError(err);
}

// The error of a package file refused by the system or for its kind.
int RefuseFile(const RBDOpenFailure &failure, kr_error *err) {
    if (failure.kind != nullptr) {
        return RBD_SetError(err, KR_E_IO, failure.os_error, KR_NO_RECORD,
                            "the package is %s, not a regular file or block device", failure.kind);
    }
    char text[128];
    return RBD_SetError(err, KR_E_IO, failure.os_error, KR_NO_RECORD, "can't open the package: %s",
                        RBD_SystemText(failure.os_error, text, sizeof text));
}

int CheckOpenArguments(unsigned flags, kr_package **out, kr_error *err) {
    if (out == nullptr) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no place for the package given");
    }
    *out = nullptr;
    if ((flags & ~KR_OPEN_PARTIAL) != 0) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "unknown flags 0x%x", flags);
    }
    return KR_OK;
}

} // namespace

int kr_open(const char *path, unsigned flags, kr_package **out, kr_error *err) {
    int checked = CheckOpenArguments(flags, out, err);
    if (checked != KR_OK) {
        return checked;
    }
    if (path == nullptr) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no path given");
    }
    RBDOpenFailure failure{};
    int fd = RBD_OpenPackageFile(path, failure);
    if (fd < 0) {
        return RefuseFile(failure, err);
    }
    return OpenOwned(RBD_FileSource(fd), path, flags, out, err);
}

int kr_open_fd(int fd, unsigned flags, kr_package **out, kr_error *err) {
    int checked = CheckOpenArguments(flags, out, err);
    if (checked != KR_OK) {
        return checked;
    }
    int error = 0;
    int own = Duplicate(fd, &error);
    if (own < 0) {
        char text[128];
        return RBD_SetError(err, KR_E_IO, error, KR_NO_RECORD, "can't use descriptor %d: %s", fd,
                            RBD_SystemText(error, text, sizeof text));
    }
    RBDOpenFailure failure{};
    if (!RBD_CheckPackageFile(own, failure)) {
        CloseFile(own);
        return RefuseFile(failure, err);
    }
    return OpenOwned(RBD_FileSource(own), nullptr, flags, out, err);
}

int kr_open_source(const kr_source *src, unsigned flags, kr_package **out, kr_error *err) {
    int checked = CheckOpenArguments(flags, out, err);
    if (checked != KR_OK) {
        return checked;
    }
    if (src == nullptr || src->read == nullptr) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no source or read function given");
    }
    // An older caller's smaller record would leave later fields unread; one
    // too small to hold these is a mistake.
    if (src->struct_size < offsetof(kr_source, ctx) + sizeof src->ctx) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "kr_source.struct_size is %llu, too small",
                            static_cast<unsigned long long>(src->struct_size));
    }
    RBDPackageSource source{};
    source.fd = -1;
    source.size = src->size;
    source.read = src->read;
    source.ctx = src->ctx;
    return OpenOwned(source, nullptr, flags, out, err);
}

void kr_close(kr_package *pkg) {
    if (pkg != nullptr) {
        if (pkg->fd >= 0) {
            CloseFile(pkg->fd);
        }
        delete pkg;
    }
}

int kr_get_info(const kr_package *pkg, kr_info *out) {
    if (pkg == nullptr || out == nullptr) {
        return KR_E_INVALID;
    }
    *out = pkg->info;
    return KR_OK;
}

uint32_t kr_entry_count(const kr_package *pkg) {
    return pkg == nullptr ? 0 : static_cast<uint32_t>(pkg->entries.size());
}

int kr_entry_at(const kr_package *pkg, uint32_t index, kr_entry *out) {
    if (pkg == nullptr || out == nullptr || index >= pkg->entries.size()) {
        return KR_E_INVALID;
    }
    RBD_ViewEntry(*pkg, index, *out);
    return KR_OK;
}

int kr_find(const kr_package *pkg, const char *path, uint32_t *index) {
    if (pkg == nullptr || path == nullptr || index == nullptr) {
        return KR_E_INVALID;
    }
    int64_t found = RBD_FindPath(*pkg, path);
    if (found < 0) {
        return KR_E_NOT_FOUND;
    }
    *index = static_cast<uint32_t>(found);
    return KR_OK;
}

#include "engine.h"

#include "../package/safe_name.h"
#include "entry_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

RBDEntryResult Outcome(RBDEntryOutcome outcome, int os_error = 0) {
    return RBDEntryResult{outcome, false, os_error};
}

// The open directory of group path `path` below the output root, made where
// missing; null, with `result` saying why, when it can't be had.
hkDirectory *OpenGroup(RBDExtraction &x, const char *path, RBDEntryResult &result) {
    if (x.group_dir != nullptr && std::strcmp(x.group_path, path) == 0) {
        return x.group_dir;
    }
    hkCloseDirectory(x.group_dir);
    x.group_dir = nullptr;
    // The directory path is a prefix of the checked file path, so it fits.
    char relative[RBD_MAX_PATH + 1];
    std::snprintf(relative, sizeof relative, "%s/%s", x.root_name, path);
    int why = HK_BELOW_FAILED;
    hkDirectory *dir = hkOpenBelow(x.base, relative, &why);
    if (dir == nullptr) {
        result = why == HK_BELOW_LINK ? Outcome(RBD_ENTRY_THROUGH_LINK)
                                      : Outcome(RBD_ENTRY_NO_PATH, hkErrorCode());
        return nullptr;
    }
    x.group_dir = dir;
    std::strcpy(x.group_path, path);
    return dir;
}

bool IsPackage(const RBDExtraction &x, const hkFileId &id) {
    return !x.package_known || (id.volume == x.package_id.volume && id.file == x.package_id.file);
}

// Whether what has identity `id` may be removed to make way for an entry.
bool MayReplace(const RBDExtraction &x, const hkFileId &id) {
    return x.replaces_names || x.created.count({id.volume, id.file}) != 0;
}

// Notes the file just created as `fd`, where only this run's files may be
// replaced. Without memory for the note, a later entry of its path is refused.
void NoteCreated(RBDExtraction &x, int fd) {
    hkFileId id{};
    if (x.replaces_names || !hkDescriptorIdentity(fd, &id)) {
        return;
    }
    try {
        x.created.insert({id.volume, id.file});
    } catch (const std::bad_alloc &) {
    }
}

// Creates the entry's file in `dir`, replacing whatever non-directory has its
// name. Returns the open descriptor, or -1 with `result` saying why.
int CreateOutput(RBDExtraction &x, hkDirectory *dir, const char *name, RBDEntryResult &result) {
    int fd = -1;
    int created = hkCreateFile(dir, name, &fd);
    if (created == HK_CREATE_EXISTS) {
        hkFileId id{};
        bool known = hkIdentityBelow(dir, name, &id);
        if (known && IsPackage(x, id)) {
            result = Outcome(RBD_ENTRY_IS_PACKAGE);
            return -1;
        }
        // A name that vanished meanwhile is simply created.
        if (known && id.is_directory) {
            result = Outcome(RBD_ENTRY_WRITE_FAILED, EISDIR);
            return -1;
        }
        // Removing it could remove a file that a link there leads to.
        if (known && !MayReplace(x, id)) {
            result = Outcome(RBD_ENTRY_NOT_REPLACED);
            return -1;
        }
        if (known && !hkRemoveBelow(dir, name)) {
            result = Outcome(RBD_ENTRY_WRITE_FAILED, hkErrorCode());
            return -1;
        }
        created = hkCreateFile(dir, name, &fd);
    }
    if (created != HK_CREATE_DONE) {
        result = Outcome(RBD_ENTRY_WRITE_FAILED, hkErrorCode());
        return -1;
    }
    NoteCreated(x, fd);
    return fd;
}

// Closes the output file; when it was not written whole or the close failed,
// removes it, so that no cut entry is left behind.
void FinishOutput(hkDirectory *dir, const char *name, int fd, bool written,
                  RBDEntryResult &result) {
    bool closed = hkCloseFile(fd);
    if (!written || !closed) {
        result.outcome = RBD_ENTRY_WRITE_FAILED;
        result.os_error = hkErrorCode();
        hkRemoveBelow(dir, name);
    }
}

// Moves the entry's bytes from the package into the new output file in one
// call of the entry's full size.
void CopyEntry(RBDExtraction &x, hkDirectory *dir, const char *name, int fd, uint32_t offset,
               uint32_t size, RBDEntryResult &result) {
    if (!RBD_DataInPackage(offset, size, x.package_size)) {
        result.data_missing = true;
        FinishOutput(dir, name, fd, true, result);
        return;
    }
    if (!RBD_ChargeOutput(x.budget, size)) {
        hkCloseFile(fd);
        hkRemoveBelow(dir, name);
        result.outcome = RBD_ENTRY_OVER_BUDGET;
        return;
    }
    int copied = hkCopyRange(fd, x.package_fd, offset, size);
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us: the entry is left empty, as one whose
        // data was never there.
        result.data_missing = true;
        FinishOutput(dir, name, fd, hkEmptyFile(fd), result);
        return;
    }
    FinishOutput(dir, name, fd, copied == HK_COPY_DONE, result);
}

} // namespace

void RBD_StartExtraction(RBDExtraction &x, hkDirectory *base, const char *root_name, int package_fd,
                         uint64_t package_size, uint64_t budget) {
    x.base = base;
    x.root_name = root_name;
    x.package_fd = package_fd;
    x.package_size = package_size;
    x.package_known = hkDescriptorIdentity(package_fd, &x.package_id);
    x.budget = RBDBudget{budget, 0};
    x.group_dir = nullptr;
    x.group_path[0] = '\0';
    x.replaces_names = hkCanReplaceNames();
    x.created.clear();
}

RBDEntryOutcome RBD_EntryVerdict(const char *root_name, const char *group_path, const char *name,
                                 bool safe_group) {
    if (!safe_group || !IsSafeName(name)) {
        return RBD_ENTRY_UNSAFE;
    }
    char out_path[RBD_MAX_PATH + 1];
    if (!RBD_FormatOutputPath(out_path, root_name, group_path, name)) {
        return RBD_ENTRY_TOO_LONG;
    }
    return RBD_ENTRY_WRITTEN;
}

RBDEntryResult RBD_ExtractEntry(RBDExtraction &x, const char *group_path, const char *name,
                                uint32_t offset, uint32_t size, bool safe_group) {
    RBDEntryResult result = Outcome(RBD_EntryVerdict(x.root_name, group_path, name, safe_group));
    if (result.outcome != RBD_ENTRY_WRITTEN) {
        return result;
    }
    hkDirectory *dir = OpenGroup(x, group_path, result);
    if (dir == nullptr) {
        return result;
    }
    if (*name == '\0') {
        return Outcome(RBD_ENTRY_EMPTY_NAME);
    }
    int fd = CreateOutput(x, dir, name, result);
    if (fd < 0) {
        return result;
    }
    CopyEntry(x, dir, name, fd, offset, size, result);
    return result;
}

void RBD_EndExtraction(RBDExtraction &x) {
    hkCloseDirectory(x.group_dir);
    x.group_dir = nullptr;
    x.group_path[0] = '\0';
    std::set<std::pair<uint64_t, uint64_t>>().swap(x.created);
}

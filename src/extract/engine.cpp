#include "engine.h"

#include "../package/safe_name.h"
#include "entry_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The system's code for a directory where a file was to be made, in the
// terms of hkErrorCode: errno, or Windows' own code (what creating a file
// over a directory answers there, ERROR_ACCESS_DENIED).
#ifdef _WIN32
const int kIsDirectory = 5;
#else
const int kIsDirectory = EISDIR;
#endif

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
    if (x.replaces_names) {
        return true;
    }
    std::lock_guard<std::mutex> hold(x.created->lock);
    return x.created->ids.count({id.volume, id.file}) != 0;
}

// Notes the file just created as `fd`, where only this run's files may be
// replaced. Without memory for the note, a later entry of its path is refused.
void NoteCreated(RBDExtraction &x, int fd) {
    hkFileId id{};
    if (x.replaces_names || !hkDescriptorIdentity(fd, &id)) {
        return;
    }
    try {
        std::lock_guard<std::mutex> hold(x.created->lock);
        x.created->ids.insert({id.volume, id.file});
    } catch (const std::bad_alloc &) {
    }
}

// Creates the entry's file in `dir`, replacing whatever non-directory has its
// name (or keeping it, when so asked). Returns the open descriptor, or -1
// with `result` saying why.
int CreateOutput(RBDExtraction &x, hkDirectory *dir, const char *name, RBDEntryResult &result) {
    int fd = -1;
    int created = hkCreateFile(dir, name, &fd);
    if (created == HK_CREATE_EXISTS && x.options.keep_existing) {
        result = Outcome(RBD_ENTRY_KEPT);
        return -1;
    }
    if (created == HK_CREATE_EXISTS) {
        hkFileId id{};
        bool known = hkIdentityBelow(dir, name, &id);
        if (known && IsPackage(x, id)) {
            result = Outcome(RBD_ENTRY_IS_PACKAGE);
            return -1;
        }
        // A name that vanished meanwhile is simply created.
        if (known && id.is_directory) {
            result = Outcome(RBD_ENTRY_WRITE_FAILED, kIsDirectory);
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

// The step that options.guard runs: the entry's file created and, once it
// exists, marked as the one being written. Never the other way round: until
// it is created the name may hold what the run did not make.
struct RBDCreation {
    RBDExtraction *x;
    hkDirectory *dir;
    const char *name;
    RBDEntryResult *result;
    int fd;
};

void CreateAndMark(void *context) {
    RBDCreation &c = *static_cast<RBDCreation *>(context);
    c.fd = CreateOutput(*c.x, c.dir, c.name, *c.result);
    if (c.fd >= 0) {
        c.x->writing.store(true, std::memory_order_release);
    }
}

// Runs `step` within the caller's guard, or simply where there is none.
void Guarded(RBDExtraction &x, void (*step)(void *), void *step_context) {
    if (x.options.guard != nullptr) {
        x.options.guard(x.options.context, step, step_context);
    } else {
        step(step_context);
    }
}

// The entry's new file, marked, within the caller's guard; -1 with `result`
// saying why there is none.
int CreateMarked(RBDExtraction &x, hkDirectory *dir, const char *name, RBDEntryResult &result) {
    // A name that passed the verdict fits its field.
    std::snprintf(x.writing_name, sizeof x.writing_name, "%s", name);
    x.writing_dir_fd = hkDirectoryFd(dir);
    RBDCreation creation{&x, dir, name, &result, -1};
    Guarded(x, CreateAndMark, &creation);
    return creation.fd;
}

// The step that ends an entry's file, within the caller's guard: closed,
// and kept when it was written whole and `keep`; else removed. Only then is
// its mark taken away.
struct RBDClosing {
    RBDExtraction *x;
    int fd;
    bool keep;
    bool closed;
    int os_error;
};

void CloseAndUnmark(void *context) {
    RBDClosing &c = *static_cast<RBDClosing *>(context);
    c.closed = hkCloseFile(c.fd);
    if (!c.keep || !c.closed) {
        c.os_error = hkErrorCode();
        hkRemoveBelow(c.x->group_dir, c.x->writing_name);
    }
    c.x->writing.store(false, std::memory_order_release);
}

// Closes the output file; when it was not written whole or the close failed,
// removes it, so that no cut entry is left behind.
void FinishOutput(RBDExtraction &x, int fd, bool written, RBDEntryResult &result) {
    RBDClosing closing{&x, fd, written, false, 0};
    Guarded(x, CloseAndUnmark, &closing);
    if (written && closing.closed) {
        return;
    }
    result.outcome = RBD_ENTRY_WRITE_FAILED;
    result.os_error = closing.os_error;
}

// Moves the entry's bytes from the package into the new output file.
void CopyEntry(RBDExtraction &x, int fd, uint32_t offset, uint32_t size, RBDEntryResult &result) {
    if (!RBD_DataInPackage(offset, size, x.package_size)) {
        result.data_missing = true;
        FinishOutput(x, fd, true, result);
        return;
    }
    if (!RBD_ChargeOutput(x.budget, size)) {
        RBDClosing closing{&x, fd, false, false, 0};
        Guarded(x, CloseAndUnmark, &closing);
        result.outcome = RBD_ENTRY_OVER_BUDGET;
        return;
    }
    int copied = RBD_CopyInPieces(fd, x.package_fd, offset, size, x.options.pieces);
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us: the entry is left empty, as one whose
        // data was never there.
        result.data_missing = true;
        FinishOutput(x, fd, hkEmptyFile(fd), result);
        return;
    }
    FinishOutput(x, fd, copied == HK_COPY_DONE, result);
}

// An entry's checks, its group's directory and its new, empty file. Gives
// the open file, or -1 with `result` saying why nothing is to be written.
int BeginEntry(RBDExtraction &x, const char *group_path, const char *name, bool safe_group,
               RBDEntryResult &result) {
    result = Outcome(RBD_EntryVerdict(x.root_name, group_path, name, safe_group));
    if (result.outcome != RBD_ENTRY_WRITTEN) {
        return -1;
    }
    hkDirectory *dir = OpenGroup(x, group_path, result);
    if (dir == nullptr) {
        return -1;
    }
    if (*name == '\0') {
        result = Outcome(RBD_ENTRY_EMPTY_NAME);
        return -1;
    }
    return CreateMarked(x, dir, name, result);
}

} // namespace

void RBD_StartExtraction(RBDExtraction &x, hkDirectory *base, const char *root_name, int package_fd,
                         uint64_t package_size, uint64_t budget) {
    x.options = RBDEngineOptions{};
    x.base = base;
    x.root_name = root_name;
    x.package_fd = package_fd;
    x.package_size = package_size;
    x.package_known = hkDescriptorIdentity(package_fd, &x.package_id);
    x.budget = RBDBudget{budget, 0};
    x.group_dir = nullptr;
    x.group_path[0] = '\0';
    x.writing.store(false);
    x.writing_dir_fd = -1;
    x.writing_name[0] = '\0';
    x.replaces_names = hkCanReplaceNames();
    x.own_created.ids.clear();
    x.created = &x.own_created;
}

void RBD_ShareCreatedFiles(RBDExtraction &worker, const RBDExtraction &x) {
    worker.created = x.created;
}

RBDEntryOutcome RBD_EntryVerdict(const char *root_name, const char *group_path, const char *name,
                                 bool safe_group) {
    if (!safe_group || !IsSafeName(name)) {
        return RBD_ENTRY_UNSAFE;
    }
    if (!RBD_OutputPathFits(root_name, group_path, name)) {
        return RBD_ENTRY_TOO_LONG;
    }
    return RBD_ENTRY_WRITTEN;
}

RBDEntryResult RBD_ExtractEntry(RBDExtraction &x, const char *group_path, const char *name,
                                uint32_t offset, uint32_t size, bool safe_group) {
    RBDEntryResult result{};
    int fd = BeginEntry(x, group_path, name, safe_group, result);
    if (x.options.entry_begun != nullptr) {
        x.options.entry_begun(x.options.context, group_path, name, size, result.outcome);
    }
    if (fd >= 0) {
        CopyEntry(x, fd, offset, size, result);
    }
    return result;
}

void RBD_EndExtraction(RBDExtraction &x) {
    hkCloseDirectory(x.group_dir);
    x.group_dir = nullptr;
    x.group_path[0] = '\0';
    std::set<std::pair<uint64_t, uint64_t>>().swap(x.own_created.ids);
}

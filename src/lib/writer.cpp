// The writer's C API: beginning a package, its edits, and giving it up.
// Committing is writer_commit.cpp.
#include "../package/root_name.h"
#include "../write/edits.h"
#include "../write/load_base.h"
#include "errors.h"
#include "package_table.h"
#include "writer_state.h"

#include <cerrno>
#include <cstring>
#include <new>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
const int kExists = ERROR_FILE_EXISTS;
const int kNotRegular = ERROR_INVALID_FUNCTION;
const int kTooManyFiles = ERROR_TOO_MANY_OPEN_FILES;
#else
const int kExists = EEXIST;
const int kNotRegular = ESPIPE;
const int kTooManyFiles = EMFILE;
#endif

// A writer holds at most this many of the caller's files open for commit.
const uint32_t kMaxHeldFiles = 64;

int Invalid(kr_error *err, const char *what) {
    return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "%s", what);
}

int NoMemory(kr_error *err) {
    return RBD_SetError(err, KR_E_NOMEM, 0, KR_NO_RECORD, "no memory for the package's index");
}

// The base's file must be what it was when it was opened: the writer
// copies what it read then.
int CheckBase(const kr_package &base, kr_error *err) {
    hkFileStamp now{};
    if (!base.stamp.exists || !hkDescriptorStamp(base.fd, &now)) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "looking at the base package");
    }
    if (!hkSameStamp(&now, &base.stamp)) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            "the base package's file changed since it was opened");
    }
    return KR_OK;
}

// True when the writer's path is where its base was opened from, or the
// base's file has its name.
bool IsBasesOwn(const kr_writer &w) {
    if (w.base == nullptr) {
        return false;
    }
    hkFilePlace place{};
    if (w.base->placed && hkTargetPlace(w.target, &place) && hkSamePlace(&place, &w.base->place)) {
        return true;
    }
    return w.expected.exists && w.base->stamp.volume == w.expected.volume &&
           w.base->stamp.file == w.expected.file;
}

// Notes what has the target's name now, as commit must find it again.
int NoteTarget(kr_writer &w, unsigned flags, kr_error *err) {
    if (!hkTargetStamp(w.target, &w.expected)) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "looking at the package's path");
    }
    if (w.expected.exists && (flags & KR_WRITER_EXCLUSIVE) != 0) {
        return RBD_SetError(err, KR_E_IO, kExists, KR_NO_RECORD,
                            "the package's path exists, and the writer was begun exclusive");
    }
    if (w.expected.exists && !w.expected.regular) {
        return RBD_SetError(err, KR_E_IO, kNotRegular, KR_NO_RECORD,
                            "the package's path is not a regular file");
    }
    // The base's own place, or its own file: it must be as the base found it.
    if (IsBasesOwn(w) && !hkSameStamp(&w.base->stamp, &w.expected)) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            "the package changed since it was opened: another program wrote "
                            "it, or another file took its name");
    }
    return KR_OK;
}

int LoadBase(kr_writer &w, kr_error *err) {
    int os_error = 0;
    const kr_package &base = *w.base;
    RBDLoadResult loaded = RBD_LoadBase(w.model, base.fd, base.info.package_size,
                                        static_cast<uint32_t>(base.entries.size()), &os_error);
    if (loaded == RBD_LOAD_READ_FAILED) {
        return RBD_SystemError(KR_E_IO, os_error, err, "reading the base package");
    }
    if (loaded == RBD_LOAD_CHANGED) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            "the base package's index changed since it was opened");
    }
    return KR_OK;
}

int Begin(kr_writer &w, const char *path, unsigned flags, kr_error *err) {
    RBD_StartModel(w.model);
    if (w.base != nullptr) {
        int checked = RBD_NeedDescriptor(*w.base, "a writer's base", err);
        if (checked == KR_OK) {
            checked = CheckBase(*w.base, err);
        }
        if (checked != KR_OK) {
            return checked;
        }
    }
    w.target = hkOpenTarget(path);
    if (w.target == nullptr) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "opening the package's place");
    }
    int noted = NoteTarget(w, flags, err);
    if (noted != KR_OK) {
        return noted;
    }
    char root[RBD_MAX_PACKAGE_NAME + 1];
    w.root_length = RBD_RootNameOf(hkGetFileName(path), root) ? std::strlen(root) : 0;
    w.spool_fd = hkCreateSpool(w.target);
    if (w.spool_fd < 0) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err,
                               "making the writer's spool beside the package");
    }
    return w.base != nullptr ? LoadBase(w, err) : KR_OK;
}

// Bytes appended to the spool; false, after setting `*code`, when they
// could not be. A failed write may have left some: the spool's end is then
// measured again, so that the next bytes go after them.
bool Spool(kr_writer &w, const void *data, size_t len, int *code, kr_error *err) {
    if (len > 0 && !hkWriteAll(w.spool_fd, data, len)) {
        *code = RBD_SystemError(KR_E_IO, hkErrorCode(), err, "writing to the writer's spool");
        hkFileSize(w.spool_fd, &w.spool_end);
        return false;
    }
    return true;
}

// The caller's file copied into the spool at once.
bool SpoolFile(kr_writer &w, int fd, uint64_t size, int *code, kr_error *err) {
    int copied = size == 0 ? HK_COPY_DONE : hkCopyFileRange(w.spool_fd, fd, 0, size);
    uint64_t now = 0;
    if (copied == HK_COPY_WRITE_FAILED) {
        *code = RBD_SystemError(KR_E_IO, hkErrorCode(), err, "writing to the writer's spool");
    } else if (copied != HK_COPY_DONE || !hkFileSize(fd, &now) || now != size) {
        *code = RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                             "the file given changed size while it was read");
        copied = HK_COPY_SHORT_READ;
    }
    if (copied != HK_COPY_DONE) {
        hkFileSize(w.spool_fd, &w.spool_end);
        return false;
    }
    return true;
}

// Room for one more place of data, made before the bytes go out, so that
// nothing can fail after they did; it grows as push_back would.
void RoomForData(kr_writer &w) {
    std::vector<RBDWriteData> &data = w.model.data;
    if (data.size() == data.capacity()) {
        data.reserve(data.empty() ? 16 : 2 * data.size());
    }
}

// Keeps the bytes' place as the model's data; gives its number.
uint32_t KeepData(kr_writer &w, uint64_t at, uint64_t size) {
    w.model.data.push_back(RBDWriteData{at, size});
    return static_cast<uint32_t>(w.model.data.size() - 1);
}

int PutSpooled(kr_writer &w, const char *path, const RBDPutPlan &plan, uint64_t size) {
    uint32_t data = KeepData(w, w.spool_end, size);
    w.spool_end += size;
    RBD_ApplyPut(w.model, path, plan, RBD_DATA_SPOOL, data, static_cast<uint32_t>(size));
    return KR_OK;
}

// Where an entry of `size` bytes at `path` goes, in `plan`, with room made
// for its data; KR_OK, or the refusal of a path or a size the package can't
// hold.
int PlanPut(kr_writer &w, const char *path, uint64_t size, RBDPutPlan &plan, kr_error *err) {
    if (size > UINT32_MAX) {
        return Invalid(err, "an entry of 4 GiB or more (an entry holds less)");
    }
    plan = RBD_PlanPut(w.model, path, w.root_length);
    if (plan.verdict.problem != RBD_PATH_FITS) {
        return RBD_RefusePath(path, plan.verdict, w.root_length, err);
    }
    RoomForData(w);
    return KR_OK;
}

int Put(kr_writer &w, const char *path, const void *data, size_t len, kr_error *err) {
    RBDPutPlan plan{};
    int code = PlanPut(w, path, len, plan, err);
    if (code != KR_OK) {
        return code;
    }
    if (!Spool(w, data, len, &code, err)) {
        return code;
    }
    PutSpooled(w, path, plan, len);
    return RBD_ClearError(err);
}

// The caller's file, held for commit: a descriptor of the writer's own, or
// -1 when the spool must take its bytes now.
int HoldFile(const kr_writer &w, int fd, int *code, kr_error *err) {
    if (w.model.held_files >= kMaxHeldFiles) {
        return -1;
    }
    int own = hkReopenForReading(fd);
    if (own < 0 && hkErrorCode() != kTooManyFiles) {
        *code = RBD_SystemError(KR_E_IO, hkErrorCode(), err, "holding the file given");
    }
    return own;
}

int PutFile(kr_writer &w, const char *path, int fd, kr_error *err) {
    uint64_t size = 0;
    if (!hkFileSize(fd, &size)) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "measuring the file given");
    }
    RBDPutPlan plan{};
    int code = PlanPut(w, path, size, plan, err);
    if (code != KR_OK) {
        return code;
    }
    int own = HoldFile(w, fd, &code, err);
    if (code != KR_OK) {
        return code;
    }
    if (own >= 0) {
        uint32_t data = KeepData(w, static_cast<uint64_t>(own), size);
        RBD_ApplyPut(w.model, path, plan, RBD_DATA_FILE, data, static_cast<uint32_t>(size));
        return RBD_ClearError(err);
    }
    if (!SpoolFile(w, fd, size, &code, err)) {
        return code;
    }
    PutSpooled(w, path, plan, size);
    return RBD_ClearError(err);
}

int Rename(kr_writer &w, const char *from, const char *to, kr_error *err) {
    RBDRenamePlan plan = RBD_PlanRename(w.model, from, to, w.root_length);
    switch (plan.problem) {
    case RBD_RENAME_FITS:
        RBD_ApplyRename(w.model, to, plan);
        return RBD_ClearError(err);
    case RBD_RENAME_NOT_FOUND:
        return RBD_SetError(err, KR_E_NOT_FOUND, 0, KR_NO_RECORD,
                            "no entry has the path \"%.120s\"", from);
    case RBD_RENAME_EXISTS:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.120s\" exists already: an entry has that path", to);
    case RBD_RENAME_UNREADABLE:
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "reading the base package");
    case RBD_RENAME_PATH:
        break;
    }
    return RBD_RefusePath(to, plan.verdict, w.root_length, err);
}

} // namespace

int kr_writer_begin(const kr_package *base, const char *path, unsigned flags, kr_writer **out,
                    kr_error *err) {
    if (out == nullptr) {
        return Invalid(err, "no place for the writer given");
    }
    *out = nullptr;
    if ((flags & ~KR_WRITER_EXCLUSIVE) != 0) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "unknown flags 0x%x", flags);
    }
    if (path == nullptr || *path == '\0') {
        return Invalid(err, "no path given");
    }
    kr_writer *w = new (std::nothrow) kr_writer();
    if (w == nullptr) {
        return NoMemory(err);
    }
    w->base = base;
    w->spool_fd = -1;
    int code = KR_OK;
    try {
        code = Begin(*w, path, flags, err);
    } catch (const std::bad_alloc &) {
        code = NoMemory(err);
    }
    if (code != KR_OK) {
        kr_writer_abort(w);
        return code;
    }
    *out = w;
    return RBD_ClearError(err);
}

int kr_writer_put(kr_writer *w, const char *path, const void *data, size_t len, kr_error *err) {
    if (w == nullptr || path == nullptr || (data == nullptr && len > 0)) {
        return Invalid(err, "no writer, path or data given");
    }
    try {
        return Put(*w, path, data, len, err);
    } catch (const std::bad_alloc &) {
        return NoMemory(err);
    }
}

int kr_writer_put_fd(kr_writer *w, const char *path, int fd, kr_error *err) {
    if (w == nullptr || path == nullptr) {
        return Invalid(err, "no writer or path given");
    }
    try {
        return PutFile(*w, path, fd, err);
    } catch (const std::bad_alloc &) {
        return NoMemory(err);
    }
}

int kr_writer_remove(kr_writer *w, const char *path, kr_error *err) {
    if (w == nullptr || path == nullptr) {
        return Invalid(err, "no writer or path given");
    }
    size_t removed = 0;
    try {
        removed = RBD_RemovePath(w->model, path);
    } catch (const std::bad_alloc &) {
        return NoMemory(err);
    }
    if (removed == 0) {
        return RBD_SetError(err, KR_E_NOT_FOUND, 0, KR_NO_RECORD,
                            "no entry has the path \"%.120s\"", path);
    }
    return RBD_ClearError(err);
}

int kr_writer_rename(kr_writer *w, const char *from, const char *to, kr_error *err) {
    if (w == nullptr || from == nullptr || to == nullptr) {
        return Invalid(err, "no writer or path given");
    }
    try {
        return Rename(*w, from, to, err);
    } catch (const std::bad_alloc &) {
        return NoMemory(err);
    }
}

int kr_writer_commit(kr_writer *w, kr_error *err) {
    if (w == nullptr) {
        return Invalid(err, "no writer given");
    }
    int code = KR_OK;
    try {
        code = RBD_CommitWriter(*w, err);
    } catch (const std::bad_alloc &) {
        code = NoMemory(err);
    }
    kr_writer_abort(w);
    return code;
}

void kr_writer_abort(kr_writer *w) {
    if (w == nullptr) {
        return;
    }
    RBD_ReleaseAllData(w->model);
    if (w->spool_fd >= 0) {
        hkCloseFile(w->spool_fd);
    }
    hkCloseTarget(w->target);
    delete w;
}

int kr_writer_get_info(const kr_writer *w, kr_writer_info *out) {
    if (w == nullptr || out == nullptr) {
        return KR_E_INVALID;
    }
    out->entries = w->model.live_entries;
    out->emptied = w->model.missing_entries;
    return KR_OK;
}

// Reading entries: positional reads of the package's own descriptor (or of
// the caller's read function), so that any number of threads may read at once.
#include "../hostkit/hostkit.h"
#include "errors.h"
#include "package_table.h"

#include <cerrno>
#ifdef _WIN32
#include <winerror.h>
#endif

namespace {

// The system's code for a package that ended before an entry's data.
#ifdef _WIN32
const int kPackageEnded = ERROR_HANDLE_EOF;
#else
const int kPackageEnded = EIO;
#endif

// The entry `index` when it can be read; else null, after setting `*code`.
const RBDEntryRecord *ReadableEntry(const kr_package *pkg, uint32_t index, kr_error *err,
                                    int *code) {
    if (pkg == nullptr || index >= pkg->entries.size()) {
        *code = RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no entry %u", index);
        return nullptr;
    }
    const RBDEntryRecord &entry = pkg->entries[index];
    if ((entry.flags & KR_ENTRY_NO_DATA) != 0) {
        *code = RBD_SetError(err, KR_E_NO_DATA, 0, KR_NO_RECORD,
                             "entry %u: its data runs past the end of the package", index);
        return nullptr;
    }
    return &entry;
}

int ShrankError(uint32_t index, kr_error *err) {
    return RBD_SetError(err, KR_E_IO, kPackageEnded, KR_NO_RECORD,
                        "entry %u: the package ended before its data (it shrank since it was "
                        "opened)",
                        index);
}

} // namespace

int64_t kr_read(const kr_package *pkg, uint32_t index, uint64_t offset, void *buf, size_t len,
                kr_error *err) {
    int code = KR_OK;
    const RBDEntryRecord *entry = ReadableEntry(pkg, index, err, &code);
    if (entry == nullptr) {
        return code;
    }
    if (buf == nullptr && len > 0) {
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "no buffer given");
    }
    if (offset >= entry->size || len == 0) {
        RBD_ClearError(err);
        return 0;
    }
    uint64_t left = entry->size - offset;
    size_t wanted = left < len ? static_cast<size_t>(left) : len;
    int error = 0;
    int64_t got = RBD_SourceReadAt(pkg->source, entry->offset + offset, buf, wanted, &error);
    if (got < 0) {
        char text[128];
        return RBD_SetError(err, KR_E_IO, error, KR_NO_RECORD, "entry %u: %s", index,
                            RBD_SystemText(error, text, sizeof text));
    }
    if (static_cast<size_t>(got) < wanted) {
        return ShrankError(index, err);
    }
    RBD_ClearError(err);
    return got;
}

int kr_read_to_fd_at(const kr_package *pkg, uint32_t index, uint64_t offset, int fd,
                     uint64_t *written, kr_error *err) {
    if (written != nullptr) {
        *written = 0;
    }
    if (pkg != nullptr && pkg->fd < 0) {
        return RBD_NeedDescriptor(*pkg, "copying to a descriptor", err);
    }
    int code = KR_OK;
    const RBDEntryRecord *entry = ReadableEntry(pkg, index, err, &code);
    if (entry == nullptr) {
        return code;
    }
    if (offset >= entry->size) {
        return RBD_ClearError(err);
    }
    uint64_t sent = 0;
    int copied = hkSendRange(fd, pkg->fd, entry->offset + offset, entry->size - offset, &sent);
    if (written != nullptr) {
        *written = sent;
    }
    if (copied == HK_COPY_SHORT_READ) {
        return ShrankError(index, err);
    }
    if (copied == HK_COPY_WRITE_FAILED) {
        int error = hkErrorCode();
        char text[128];
        return RBD_SetError(err, KR_E_IO, error, KR_NO_RECORD, "entry %u: writing: %s", index,
                            RBD_SystemText(error, text, sizeof text));
    }
    return RBD_ClearError(err);
}

int kr_read_to_fd(const kr_package *pkg, uint32_t index, int fd, kr_error *err) {
    return kr_read_to_fd_at(pkg, index, 0, fd, nullptr, err);
}

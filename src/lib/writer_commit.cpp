// Committing a writer: the package laid out, written to a temporary file
// beside its path, read back, flushed, and put at its path at once, after
// making sure that neither the base nor the path changed meanwhile.
#include "../write/layout.h"
#include "../write/model_paths.h"
#include "errors.h"
#include "package_table.h"
#include "writer_state.h"

#include <cerrno>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
const int kNameTaken = ERROR_FILE_EXISTS;
#else
const int kNameTaken = EEXIST;
#endif

// Nothing may be written over another's work: the base's file and what has
// the path must be as they were when the writer began.
int CheckUnchanged(const kr_writer &w, kr_error *err) {
    hkFileStamp now{};
    if (w.base != nullptr &&
        (!hkDescriptorStamp(w.base->fd, &now) || !hkSameStamp(&now, &w.base->stamp))) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            "the base package's file changed since it was opened: nothing was "
                            "written");
    }
    if (!hkTargetStamp(w.target, &now)) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "looking at the package's path");
    }
    if (!hkSameStamp(&now, &w.expected)) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            w.expected.exists ? "the package's path changed since the writer "
                                                "began (another program wrote it): nothing was "
                                                "written"
                                              : "the package's path was taken since the writer "
                                                "began: nothing was written");
    }
    return KR_OK;
}

int RefuseBeyond(const kr_writer &w, const RBDLayout &layout, kr_error *err) {
    char path[RBD_ENTRY_PATH_MAX + 1];
    RBD_EntryPathOf(w.model, static_cast<uint32_t>(layout.beyond_entry), path);
    return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                        "the package would pass 4 GiB: the data of \"%.120s\" would start at "
                        "byte %llu, past what a record's 32-bit offset reaches",
                        path, static_cast<unsigned long long>(layout.beyond_offset));
}

bool Interrupted(void *context) {
    return hkTemporaryInterrupted(static_cast<const hkTarget *>(context));
}

// Writes the package into the temporary file and reads it back.
int WriteTemporary(kr_writer &w, const RBDLayout &layout, int fd, kr_error *err) {
    RBDEmitPlace place{fd, w.spool_fd, Interrupted, w.target};
    RBDEmitFault fault{};
    if (!RBD_EmitPackage(w.model, layout, place, fault) ||
        !RBD_SettleCount(w.model, layout, fd, fault)) {
        return RBD_EmitError(w, fault, err);
    }
    if (!hkFinishTemporary(w.target, &w.expected)) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err, "flushing the new package");
    }
    return KR_OK;
}

int Place(kr_writer &w, kr_error *err) {
    if (hkPlaceTemporary(w.target, w.expected.exists)) {
        return KR_OK;
    }
    int error = hkErrorCode();
    if (error == kNameTaken) {
        return RBD_SetError(err, KR_E_CHANGED, 0, KR_NO_RECORD,
                            "the package's path was taken since the writer began: nothing was "
                            "written");
    }
    return RBD_SystemError(KR_E_IO, error, err, "putting the new package in place");
}

} // namespace

int RBD_CommitWriter(kr_writer &w, kr_error *err) {
    int code = CheckUnchanged(w, err);
    if (code != KR_OK) {
        return code;
    }
    RBDLayout layout;
    RBD_LayOut(w.model, layout);
    if (layout.beyond_entry != -1) {
        return RefuseBeyond(w, layout, err);
    }
    int fd = hkCreateTemporary(w.target, w.expected.exists);
    if (fd < 0) {
        return RBD_SystemError(KR_E_IO, hkErrorCode(), err,
                               "making the new package's file beside its path");
    }
    code = WriteTemporary(w, layout, fd, err);
    if (code == KR_OK) {
        // Once more, as close to the rename as can be.
        code = CheckUnchanged(w, err);
    }
    if (code == KR_OK) {
        code = Place(w, err);
    }
    if (code != KR_OK) {
        hkDiscardTemporary(w.target);
        return code;
    }
    return RBD_ClearError(err);
}

// The words of the writer's refusals and failures: each names its cause.
#include "errors.h"
#include "writer_state.h"

#include "../write/model_paths.h"

#include <cerrno>

namespace {

// Paths are cut in messages, so that the rule they break still shows.
const int kShown = 120;

} // namespace

int RBD_RefusePath(const char *path, const RBDPathVerdict &verdict, size_t root_length,
                   kr_error *err) {
    const char *name = path + verdict.at;
    auto length = static_cast<int>(verdict.length);
    switch (verdict.problem) {
    case RBD_PATH_FITS:
        break;
    case RBD_PATH_EMPTY_NAME:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": an empty name (a path has no leading, trailing or doubled "
                            "\"/\")",
                            kShown, path);
    case RBD_PATH_UNSAFE_NAME:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": unsafe name \"%.*s\", which extraction refuses", kShown,
                            path, length, name);
    case RBD_PATH_LONG_NAME:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": a name of %d bytes, \"%.20s...\" (a name holds 62 at most)",
                            kShown, path, length, name);
    case RBD_PATH_TOO_LONG:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": path too long: extracted below an output root of %zu bytes "
                            "it would pass %zu bytes",
                            kShown, path, root_length, RBD_MAX_PATH);
    case RBD_PATH_TOP_LEVEL:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": a file at the top level (files live in groups only)", kShown,
                            path);
    case RBD_PATH_GROUP_THERE:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": a file where a group is (a group has that path)", kShown,
                            path);
    case RBD_PATH_FILE_THERE:
        return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD,
                            "\"%.*s\": a group where a file is (\"%.*s\" is an entry)", kShown,
                            path, length, name);
    }
    return RBD_SetError(err, KR_E_INVALID, 0, KR_NO_RECORD, "\"%.*s\": refused", kShown, path);
}

int RBD_SystemError(int code, int os_error, kr_error *err, const char *what) {
    char text[128];
    return RBD_SetError(err, code, os_error, KR_NO_RECORD, "%s: %s", what,
                        RBD_SystemText(os_error, text, sizeof text));
}

int RBD_EmitError(const kr_writer &w, const RBDEmitFault &fault, kr_error *err) {
    char path[RBD_ENTRY_PATH_MAX + 1] = "";
    switch (fault.problem) {
    case RBD_EMIT_DONE:
        break;
    case RBD_EMIT_WRITE_FAILED:
        return RBD_SystemError(KR_E_IO, fault.os_error, err, "writing the new package");
    case RBD_EMIT_BASE_SHORT:
        return RBD_SetError(err, KR_E_CHANGED, fault.os_error, KR_NO_RECORD,
                            "the base package ended before data it had when it was opened");
    case RBD_EMIT_SPOOL_SHORT:
        return RBD_SystemError(KR_E_IO, fault.os_error, err, "reading the writer's spool");
    case RBD_EMIT_SOURCE_CHANGED:
        RBD_EntryPathOf(w.model, fault.entry, path);
        return RBD_SetError(
            err, KR_E_CHANGED, fault.os_error, KR_NO_RECORD,
            "the file given for \"%.*s\" changed size since it was given (%llu "
            "bytes then, %llu now)",
            kShown, path,
            static_cast<unsigned long long>(w.model.data[w.model.entries[fault.entry].data].size),
            static_cast<unsigned long long>(fault.size_now));
    case RBD_EMIT_INTERRUPTED:
        return RBD_SetError(err, KR_E_IO, EINTR, KR_NO_RECORD,
                            "a signal came while the package was written: nothing was changed");
    case RBD_EMIT_READ_BACK:
        return RBD_SetError(err, KR_E_IO, 0, KR_NO_RECORD,
                            "the package written does not read back as it was laid out: "
                            "nothing was changed");
    }
    return RBD_SetError(err, KR_E_IO, fault.os_error, KR_NO_RECORD, "writing the package failed");
}

#include "errors.h"

#include "../package/header_text.h"
#include "kestrun_version.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int RBD_SetError(kr_error *err, int code, int os_error, uint32_t record, const char *format, ...) {
    if (err != nullptr) {
        err->code = code;
        err->os_error = os_error;
        err->record = record;
        va_list args;
        va_start(args, format);
        std::vsnprintf(err->message, sizeof err->message, format, args);
        va_end(args);
    }
    return code;
}

int RBD_ClearError(kr_error *err) {
    if (err != nullptr) {
        std::memset(err, 0, sizeof *err);
        err->record = KR_NO_RECORD;
    }
    return KR_OK;
}

int RBD_WalkErrorToCode(const RBDWalkError &error, kr_error *err) {
    uint32_t record = error.record;
    if (error.os_error != 0 && error.problem != RBD_PROBLEM_TABLE_NOMEM) {
        char text[128];
        return RBD_SetError(err, KR_E_IO, error.os_error, KR_NO_RECORD, "reading the package: %s",
                            RBD_SystemText(error.os_error, text, sizeof text));
    }
    char header[128];
    if (RBD_WordHeaderProblem(error, header, sizeof header)) {
        return RBD_SetError(err, KR_E_NOT_RBD, 0, KR_NO_RECORD, "%s", header);
    }
    switch (error.problem) {
    case RBD_PROBLEM_NONE:
    case RBD_PROBLEM_HEADER_SHORT:
    case RBD_PROBLEM_NO_INDICES:
    case RBD_PROBLEM_VERSION:
    case RBD_PROBLEM_COMMENT:
        break;
    case RBD_PROBLEM_SIZE:
        return RBD_SetError(err, KR_E_IO, 0, KR_NO_RECORD, "the package's length can't be had");
    case RBD_PROBLEM_GROUP_SHORT:
        return RBD_SetError(err, KR_E_DAMAGED, 0, record,
                            "damaged index: group record %u is cut short by the end of the file",
                            record);
    case RBD_PROBLEM_PATH_TOO_LONG:
        return RBD_SetError(err, KR_E_DAMAGED, 0, record,
                            "damaged index: group record %u makes a group path longer than "
                            "258 bytes",
                            record);
    case RBD_PROBLEM_CHILD_MISSING:
        return RBD_SetError(err, KR_E_DAMAGED, 0, record,
                            "damaged index: it ends at record %u, inside directory group \"%.62s\"",
                            record, error.text);
    case RBD_PROBLEM_TABLE_SHORT:
        return RBD_SetError(err, KR_E_DAMAGED, 0, record,
                            "damaged index: file record %u is cut short by the end of the file",
                            record);
    case RBD_PROBLEM_TABLE_NOMEM:
        return RBD_SetError(err, KR_E_NOMEM, 0, KR_NO_RECORD,
                            "no memory for the file table at record %u", record);
    }
    return RBD_SetError(err, KR_E_DAMAGED, 0, record, "damaged index at record %u", record);
}

const char *kr_strerror(int code) {
    switch (code) {
    case KR_OK:
        return "success";
    case KR_INCOMPLETE:
        return "some entries were refused or failed";
    case KR_E_INVALID:
        return "invalid argument";
    case KR_E_IO:
        return "input/output error";
    case KR_E_NOMEM:
        return "out of memory";
    case KR_E_NOT_RBD:
        return "not an RBD package";
    case KR_E_DAMAGED:
        return "damaged index";
    case KR_E_NOT_FOUND:
        return "no such entry";
    case KR_E_NO_DATA:
        return "entry data past the end of the package";
    case KR_E_UNSAFE:
        return "unsafe path refused";
    case KR_E_BUDGET:
        return "output budget exceeded";
    case KR_E_CHANGED:
        return "file changed under the writer";
    default:
        return "unknown error";
    }
}

const char *kr_version(void) {
    return KESTRUN_VERSION;
}

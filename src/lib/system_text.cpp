#include "system_text.h"

#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifndef _WIN32
// strerror_r comes in two kinds: the GNU one returns its text, which may not
// be in the buffer; the POSIX one fills the buffer and returns a status.
[[maybe_unused]] const char *ErrorText(int result, const char *buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char *ErrorText(const char *text, const char * /*buffer*/) {
    return text;
}
#endif

} // namespace

const char *RBD_SystemText(int os_error, char *buffer, size_t size) {
#ifdef _WIN32
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(os_error), 0, buffer, static_cast<DWORD>(size), nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n')) {
        buffer[--length] = '\0';
    }
    if (length == 0) {
        std::snprintf(buffer, size, "error %d", os_error);
    }
    return buffer;
#else
    return ErrorText(strerror_r(os_error, buffer, size), buffer);
#endif
}

#include "safe_name.h"

#include <cstring>

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char ToUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows opens a device, not a file, for CON, PRN, AUX, NUL, COM1-9 and
// LPT1-9 in any case, whatever extension follows and with any spaces before
// the extension: "nul.txt" and "Com1 .log" are devices too.
bool IsReservedDeviceName(const char *name) {
    size_t length = std::strcspn(name, ".");
    while (length > 0 && name[length - 1] == ' ') {
        --length;
    }
    char base[5] = {};
    if (length < 3 || length > 4) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        base[i] = ToUpper(name[i]);
    }
    if (length == 3) {
        return std::strcmp(base, "CON") == 0 || std::strcmp(base, "PRN") == 0 ||
               std::strcmp(base, "AUX") == 0 || std::strcmp(base, "NUL") == 0;
    }
    bool numbered = std::strncmp(base, "COM", 3) == 0 || std::strncmp(base, "LPT", 3) == 0;
    return numbered && base[3] >= '1' && base[3] <= '9';
}

// Names that Windows would not keep as they are: a device, a name whose
// trailing dots and spaces are silently dropped (so "a." would overwrite
// "a"), and a colon, which opens an alternate data stream of another file.
bool IsSafeOnWindows(const char *name) {
    size_t length = std::strlen(name);
    if (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) {
        return false;
    }
    return std::strchr(name, ':') == nullptr && !IsReservedDeviceName(name);
}

#ifdef _WIN32
const bool host_windows_rules = true;
#else
const bool host_windows_rules = false;
#endif

} // namespace

bool IsSafeNameOn(const char *name, bool windows_rules) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    if (std::strpbrk(name, "/\\") != nullptr) {
        return false;
    }
    // "C:" and "C:name" are drive-relative paths on Windows.
    if (IsAsciiLetter(name[0]) && name[1] == ':') {
        return false;
    }
    return !windows_rules || IsSafeOnWindows(name);
}

bool IsSafeName(const char *name) {
    return IsSafeNameOn(name, host_windows_rules);
}

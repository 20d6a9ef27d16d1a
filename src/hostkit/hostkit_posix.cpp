// Host services for POSIX systems.
#include "hostkit.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

bool IsDirectory(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir that counts an existing directory as success.
bool MakeDirectory(const char *path) {
    if (mkdir(path, 0777) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    if (IsDirectory(path)) {
        return true;
    }
    errno = ENOTDIR;
    return false;
}

} // namespace

bool hkFileExists(const char *path) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return true;
}

const char *hkGetError(void) {
    return std::strerror(errno);
}

const char *hkGetFileName(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

bool hkInitialize(int argc, char **argv) {
    (void)argc;
    (void)argv;
    return true;
}

bool hkCreatePath(const char *path) {
    // Nearly every call names a directory made by an earlier entry.
    if (IsDirectory(path)) {
        return true;
    }
    std::string prefix(path);
    for (size_t i = 1; i < prefix.size(); ++i) {
        if (prefix[i] != '/' || prefix[i - 1] == '/') {
            continue;
        }
        prefix[i] = '\0';
        bool made = MakeDirectory(prefix.c_str());
        prefix[i] = '/';
        if (!made) {
            return false;
        }
    }
    if (!prefix.empty() && prefix.back() != '/') {
        return MakeDirectory(prefix.c_str());
    }
    return IsDirectory(path);
}

#include "path_clash.h"

#include <cstring>

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// Letters in lower case everywhere: Windows' names are the same in either
// case, and so are those of a case-folding file system elsewhere (vfat, a
// casefold directory of ext4). Entries that differ in case alone then wait
// for each other where they need not, which costs next to nothing.
char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Appends the names of `path` to `key`, each after a '/'.
void AppendNames(std::string &key, const char *path) {
    const char *p = path;
    while (*p != '\0') {
        const char *end = p;
        while (*end != '\0' && !IsSeparator(*end)) {
            ++end;
        }
        size_t length = static_cast<size_t>(end - p);
        if (length > 0 && !(length == 1 && *p == '.')) {
            key += '/';
            for (const char *c = p; c < end; ++c) {
                key += Folded(*c);
            }
        }
        p = *end == '\0' ? end : end + 1;
    }
}

} // namespace

std::string RBD_ClashKeyOf(const char *group_path, const char *name) {
    std::string key;
    AppendNames(key, group_path);
    AppendNames(key, name);
    return key;
}

bool RBD_KeysClash(const std::string &a, const std::string &b) {
    const std::string &shorter = a.size() <= b.size() ? a : b;
    const std::string &longer = a.size() <= b.size() ? b : a;
    if (longer.compare(0, shorter.size(), shorter) != 0) {
        return false;
    }
    return longer.size() == shorter.size() || longer[shorter.size()] == '/';
}

#include "entry_verdict.h"

#include "package/safe_name.h"
#include "types.h"

#include <cstring>

namespace {

// Whether every name that the group path shows ("a/b/": each name followed
// by a slash) may be a path component.
bool GroupNamesLookSafe(const char *group) {
    char name[RBD_MAX_PATH + 1];
    for (const char *p = group; *p != '\0';) {
        size_t length = std::strcspn(p, "/");
        if (length > RBD_MAX_PATH) {
            return false; // longer than any group path the reader hands on
        }
        std::memcpy(name, p, length);
        name[length] = '\0';
        if (!IsSafeName(name)) {
            return false;
        }
        p += length;
        if (*p == '/') {
            ++p;
        }
    }
    return true;
}

// Whether "./<root_name>/<group><name>" fits, as RBD_FormatOutputPath
// measures it; counted rather than formatted, as every entry asks.
bool OutputPathFits(const char *root_name, const char *group, const char *name) {
    size_t length = std::strlen(root_name) + std::strlen(group) + std::strlen(name) + 3;
    return length <= RBD_MAX_PATH;
}

} // namespace

std::string RootNameOf(const char *package_path) {
    const char *slash = std::strrchr(package_path, '/');
    std::string name = slash != nullptr ? slash + 1 : package_path;
    return name.size() < 4 ? std::string() : name.substr(0, name.size() - 4);
}

EntryVerdict VerdictOn(const kr_entry &entry, const char *root_name) {
    bool safe_group = GroupNamesLookSafe(entry.group);
    if (safe_group && (entry.flags & KR_ENTRY_UNSAFE) != 0 && entry.name[0] != '\0' &&
        IsSafeName(entry.name) && OutputPathFits("", entry.group, entry.name)) {
        // The library refuses a path whose every name shows safe and which
        // fits: then a group's own name holds a slash, which the group path
        // can't show.
        safe_group = false;
    }
    // Not told apart: a slash inside a group's name under an entry with an
    // empty name, or with a path too long below any root, which the library
    // flags whatever its group. The group is then taken as safe: at worst an
    // empty directory more, or "Path too long" for "Refusing unsafe path".
    if (!safe_group || !IsSafeName(entry.name)) {
        return ENTRY_UNSAFE;
    }
    if (!OutputPathFits(root_name, entry.group, entry.name)) {
        return ENTRY_TOO_LONG;
    }
    return ENTRY_TAKEN;
}

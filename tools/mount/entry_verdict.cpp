#include "entry_verdict.h"

#include "package/safe_name.h"
#include "types.h"

#include <cstring>

namespace {

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
    if ((entry.flags & KR_ENTRY_UNSAFE_GROUP) != 0 || !IsSafeName(entry.name)) {
        return ENTRY_UNSAFE;
    }
    if (!OutputPathFits(root_name, entry.group, entry.name)) {
        return ENTRY_TOO_LONG;
    }
    return ENTRY_TAKEN;
}

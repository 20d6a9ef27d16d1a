#include "group_path.h"

#include "../extract/safe_name.h"

#include <cstdio>
#include <cstring>

bool RecurseGroupPath(char *path, const RBDGroup *group) {
    if (group->parent != nullptr && !RecurseGroupPath(path, group->parent)) {
        return false;
    }
    // A name holds at most 62 characters, so its component always fits.
    char component[64];
    std::snprintf(component, sizeof component, "%s/", group->header.name);
    size_t used = std::strlen(path);
    size_t added = std::strlen(component);
    if (used + added > RBD_MAX_PATH) {
        return false;
    }
    std::memcpy(path + used, component, added + 1);
    return true;
}

bool IsSafeGroup(const RBDGroup *group) {
    for (; group != nullptr; group = group->parent) {
        if (!IsSafeName(group->header.name)) {
            return false;
        }
    }
    return true;
}

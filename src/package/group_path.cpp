#include "group_path.h"

#include "../types.h"

#include <cstring>

bool RBD_AppendGroupName(char *path, size_t length, const char *name) {
    size_t added = std::strlen(name) + 1;
    if (length > RBD_MAX_PATH || added > RBD_MAX_PATH - length) {
        return false;
    }
    std::memcpy(path + length, name, added - 1);
    path[length + added - 1] = '/';
    path[length + added] = '\0';
    return true;
}

size_t RBD_AppendNormalName(char *path, size_t length, const char *name) {
    if (*name == '\0' || !RBD_AppendGroupName(path, length, name)) {
        return length;
    }
    return length + std::strlen(name) + 1;
}

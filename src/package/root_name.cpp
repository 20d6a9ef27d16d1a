#include "root_name.h"

#include <cstring>

bool RBD_RootNameOf(const char *filename, char *root) {
    size_t length = std::strlen(filename);
    if (length < 4 || length - 4 > RBD_MAX_PACKAGE_NAME) {
        return false;
    }
    std::memcpy(root, filename, length - 4);
    root[length - 4] = '\0';
    return std::strcmp(root, ".") != 0 && std::strcmp(root, "..") != 0;
}

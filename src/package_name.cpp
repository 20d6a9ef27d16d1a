#include "package_name.h"

#include <cstring>

char package_name[RBD_MAX_PACKAGE_NAME + 1];

bool SetPackageName(const char *filename) {
    size_t length = std::strlen(filename);
    if (length < 4 || length - 4 > RBD_MAX_PACKAGE_NAME) {
        return false;
    }
    std::memcpy(package_name, filename, length - 4);
    package_name[length - 4] = '\0';
    return std::strcmp(package_name, ".") != 0 && std::strcmp(package_name, "..") != 0;
}

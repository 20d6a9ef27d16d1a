#include "package_name.h"

#include "../package/root_name.h"

char package_name[RBD_MAX_PACKAGE_NAME + 1];

bool SetPackageName(const char *filename) {
    return RBD_RootNameOf(filename, package_name);
}

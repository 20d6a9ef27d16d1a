#include "entry_data.h"

#include "../types.h"

#include <cstdio>

bool RBD_DataInPackage(uint32_t offset, uint32_t size) {
    return size == 0 || uint64_t{offset} + size <= package_size;
}

bool RBD_FormatOutputPath(char *out_path, const char *path, const char *filename) {
    int length =
        std::snprintf(out_path, RBD_MAX_PATH + 1, "./%s/%s%s", package_name, path, filename);
    return length >= 0 && static_cast<size_t>(length) <= RBD_MAX_PATH;
}

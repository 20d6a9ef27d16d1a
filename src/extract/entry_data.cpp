#include "entry_data.h"

#include "../types.h"

#include <cstdio>
#include <cstring>

bool RBD_DataInPackage(uint64_t offset, uint64_t size, uint64_t package_size) {
    return size == 0 || (offset <= package_size && size <= package_size - offset);
}

bool RBD_OutputPathFits(const char *root_name, const char *path, const char *filename) {
    return RBD_OutputPathLengthFits(std::strlen(root_name), std::strlen(path),
                                    std::strlen(filename));
}

bool RBD_OutputPathLengthFits(size_t root_length, size_t path_length, size_t filename_length) {
    // "./" + root + "/" + path + filename, as RBD_FormatOutputPath forms it;
    // each is at most a path buffer long, so the sum can't wrap.
    return 3 + root_length + path_length + filename_length <= RBD_MAX_PATH;
}

bool RBD_FormatOutputPath(char *out_path, const char *root_name, const char *path,
                          const char *filename) {
    int length = std::snprintf(out_path, RBD_MAX_PATH + 1, "./%s/%s%s", root_name, path, filename);
    return length >= 0 && static_cast<size_t>(length) <= RBD_MAX_PATH;
}

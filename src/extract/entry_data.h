// Where an entry's data lies in the package, and where it goes.
#pragma once

#include <cstddef>
#include <cstdint>

// True when the `size` bytes at `offset` lie within a package of
// `package_size` bytes. An empty entry reads nothing, wherever it claims to lie.
bool RBD_DataInPackage(uint64_t offset, uint64_t size, uint64_t package_size);

// Forms the entry's output path, "./<root_name>/<path><filename>", in
// `out_path` (RBD_MAX_PATH + 1 bytes); false when it would not fit, and the
// entry is then refused as too long.
bool RBD_FormatOutputPath(char *out_path, const char *root_name, const char *path,
                          const char *filename);

// True when that output path fits, without forming it: the library asks
// this of every entry as it opens a package.
bool RBD_OutputPathFits(const char *root_name, const char *path, const char *filename);

// The same from the lengths of the three: for a caller that keeps the length
// of the group path as the package spells it, and not its text.
bool RBD_OutputPathLengthFits(size_t root_length, size_t path_length, size_t filename_length);

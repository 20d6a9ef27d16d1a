// The files that edits put into a package: opened once, so that the bytes
// compared with an entry are the bytes the writer takes, and compared with
// an entry's bytes, sizes first, then piece by piece up to the first
// difference.
#pragma once

#include "kestrun/kestrun.h"

#include <cstdint>
#include <string>
#include <vector>

struct SourceFile {
    int fd = -1;
    uint64_t size = 0; // when it was opened
};

// Opens the regular file `path` for reading: false, with errno's value in
// `error`, when it can't be (EISDIR, or EINVAL for another kind of file; with
// `follow_links` false, a link put in its place since it was looked at is
// refused too).
bool OpenSource(const std::string &path, bool follow_links, SourceFile &file, int &error);

void CloseSource(SourceFile &file);

enum class Sameness {
    kSame,
    kDifferent,
    kFileFailed,    // reading the file failed (errno in `error`), or it shrank
    kPackageFailed, // reading the entry failed (in `err`)
};

// Whether `file`, read from its start, holds the bytes of entry `index` of
// `package`. An entry whose data runs past the package's end holds none, as
// extraction leaves it. `buffers` is the caller's, kept from one call to the
// next.
Sameness CompareWithEntry(const kr_package *package, uint32_t index, const SourceFile &file,
                          std::vector<char> &buffers, kr_error &err, int &error);

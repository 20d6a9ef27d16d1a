#include "source_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Pieces compared at once: big enough for few calls, small enough that a
// difference near the start is found after little reading.
const size_t kPiece = size_t{256} << 10;

#ifdef _WIN32
const int kReadFlags = O_RDONLY | O_BINARY;
#else
const int kReadFlags = O_RDONLY | O_CLOEXEC;
#endif

// Fills `buffer` with `size` bytes of `fd`; false at an error or the end.
bool ReadFull(int fd, char *buffer, size_t size, int &error) {
    while (size > 0) {
        auto got = read(fd, buffer, static_cast<unsigned>(size));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            return false;
        }
        buffer += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace

bool OpenSource(const std::string &path, bool follow_links, SourceFile &file, int &error) {
    int flags = kReadFlags;
#ifdef O_NOFOLLOW
    if (!follow_links) {
        flags |= O_NOFOLLOW;
    }
#else
    (void)follow_links;
#endif
    file.fd = open(path.c_str(), flags);
    if (file.fd < 0) {
        error = errno;
        return false;
    }
    struct stat status {};
    error = fstat(file.fd, &status) != 0 ? errno
            : S_ISDIR(status.st_mode)    ? EISDIR
            : !S_ISREG(status.st_mode)   ? EINVAL
                                         : 0;
    if (error != 0) {
        CloseSource(file);
        return false;
    }
    file.size = static_cast<uint64_t>(status.st_size);
    return true;
}

void CloseSource(SourceFile &file) {
    if (file.fd >= 0) {
        close(file.fd);
    }
    file.fd = -1;
}

Sameness CompareWithEntry(const kr_package *package, uint32_t index, const SourceFile &file,
                          std::vector<char> &buffers, kr_error &err, int &error) {
    kr_entry entry{};
    kr_entry_at(package, index, &entry);
    uint64_t size = (entry.flags & KR_ENTRY_NO_DATA) != 0 ? 0 : entry.size;
    if (size != file.size) {
        return Sameness::kDifferent;
    }
    buffers.resize(2 * kPiece);
    char *ours = buffers.data();
    char *theirs = ours + kPiece;
    for (uint64_t done = 0; done < size;) {
        size_t piece = size - done < kPiece ? static_cast<size_t>(size - done) : kPiece;
        int64_t got = kr_read(package, index, done, theirs, piece, &err);
        if (got >= 0 && got != static_cast<int64_t>(piece)) {
            std::snprintf(err.message, sizeof err.message, "the entry's data ended early");
        }
        if (got != static_cast<int64_t>(piece)) {
            return Sameness::kPackageFailed;
        }
        if (!ReadFull(file.fd, ours, piece, error)) {
            return Sameness::kFileFailed;
        }
        if (std::memcmp(ours, theirs, piece) != 0) {
            return Sameness::kDifferent;
        }
        done += piece;
    }
    return Sameness::kSame;
}

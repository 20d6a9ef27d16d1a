// Host services for POSIX systems.
#include "hostkit.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

bool IsDirectory(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir that counts an existing directory as success.
bool MakeDirectory(const char *path) {
    if (mkdir(path, 0777) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        return false;
    }
    if (IsDirectory(path)) {
        return true;
    }
    errno = ENOTDIR;
    return false;
}

// Makes the directory `path` (no trailing slash) and whatever is missing above
// it. The deepest level is tried first: usually only it is new, and then one
// mkdir is all it takes.
bool MakePath(const std::string &path) {
    if (MakeDirectory(path.c_str())) {
        return true;
    }
    if (errno != ENOENT) {
        return false;
    }
    size_t end = path.find_last_of('/');
    while (end != std::string::npos && end > 0 && path[end - 1] == '/') {
        --end;
    }
    if (end == std::string::npos || end == 0 || !MakePath(path.substr(0, end))) {
        return false;
    }
    return MakeDirectory(path.c_str());
}

bool CreatePath(const char *path) {
    std::string directory(path);
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    return MakePath(directory);
}

// The last path that hkCreatePath found or made whole. Entries come group by
// group, so nearly every call asks for the same directory as the one before;
// the program only ever adds directories, never removes them.
std::string last_path;

// Blocks from this size up are mapped on their own, backed by transparent huge
// pages where the system allows: a 256 MiB entry then costs 128 page faults
// instead of 65536. Smaller ones come from malloc.
const size_t kLargeBlock = size_t{4} << 20;
const size_t kHugePage = size_t{2} << 20;

size_t RoundUp(size_t size, size_t unit) {
    return (size + unit - 1) / unit * unit;
}

void *MapLargeBlock(size_t size) {
    if (size > SIZE_MAX - 2 * kHugePage) {
        return nullptr;
    }
    size_t length = RoundUp(size, kHugePage);
    // One huge page more than needed, so that an aligned start can be cut out.
    size_t mapped = length + kHugePage;
    void *start = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) {
        return nullptr;
    }
    auto base = reinterpret_cast<uintptr_t>(start);
    uintptr_t aligned = RoundUp(base, kHugePage);
    size_t head = aligned - base;
    size_t tail = mapped - head - length;
    if (head > 0) {
        munmap(start, head);
    }
    if (tail > 0) {
        munmap(reinterpret_cast<void *>(aligned + length), tail);
    }
    auto *block = reinterpret_cast<void *>(aligned);
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block works the same, just slower.
    madvise(block, length, MADV_HUGEPAGE);
#endif
    return block;
}

// Pieces of hkCopyRange: small enough to stay in the cache, large enough that
// the calls cost little.
const size_t kCopyPiece = size_t{1} << 20;

bool WriteAll(int fd, const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t put = write(fd, bytes, length);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

} // namespace

bool hkFileExists(const char *path) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return true;
}

const char *hkGetError(void) {
    return std::strerror(errno);
}

const char *hkGetFileName(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

bool hkInitialize(int argc, char **argv) {
    (void)argc;
    (void)argv;
    return true;
}

bool hkCreatePath(const char *path) {
    if (last_path == path) {
        return true;
    }
    bool made = CreatePath(path);
    if (made) {
        last_path = path;
    }
    return made;
}

void *hkAllocate(size_t size) {
    if (size >= kLargeBlock) {
        return MapLargeBlock(size);
    }
    return std::malloc(size > 0 ? size : 1);
}

void hkRelease(void *block, size_t size) {
    if (block == nullptr) {
        return;
    }
    if (size >= kLargeBlock) {
        munmap(block, RoundUp(size, kHugePage));
        return;
    }
    std::free(block);
}

int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
    std::string piece(static_cast<size_t>(size < kCopyPiece ? size : kCopyPiece), '\0');
    while (size > 0) {
        size_t want = static_cast<size_t>(size < piece.size() ? size : piece.size());
        ssize_t got = pread(in_fd, piece.data(), want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return HK_COPY_SHORT_READ;
        }
        if (!WriteAll(out_fd, piece.data(), static_cast<size_t>(got))) {
            return HK_COPY_WRITE_FAILED;
        }
        offset += static_cast<uint64_t>(got);
        size -= static_cast<uint64_t>(got);
    }
    return HK_COPY_DONE;
}

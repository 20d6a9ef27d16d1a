#include "package_source.h"

#include "../hostkit/hostkit.h"

#include <cerrno>

namespace {

// A function's failure as a system code: what it returned, negated, when
// that is one; EIO when it gave a number no code can be.
int FunctionError(int64_t returned) {
    return returned < 0 && returned >= -0x7fff ? static_cast<int>(-returned) : EIO;
}

int64_t ReadThroughFunction(const RBDPackageSource &source, uint64_t offset, void *into,
                            size_t size, int *os_error) {
    if (offset >= source.size) {
        return 0;
    }
    uint64_t left = source.size - offset;
    size_t wanted = left < size ? static_cast<size_t>(left) : size;
    char *bytes = static_cast<char *>(into);
    size_t got = 0;
    while (got < wanted) {
        int64_t read_now = source.read(source.ctx, offset + got, bytes + got, wanted - got);
        if (read_now < 0) {
            *os_error = FunctionError(read_now);
            return -1;
        }
        if (read_now == 0) {
            break; // the source ended early: the caller reports it short
        }
        // A function that claims more than it was asked for broke its word;
        // what it wrote past the buffer can't be undone, but it is not read.
        if (static_cast<uint64_t>(read_now) > wanted - got) {
            *os_error = EIO;
            return -1;
        }
        got += static_cast<size_t>(read_now);
    }
    return static_cast<int64_t>(got);
}

} // namespace

RBDPackageSource RBD_FileSource(int fd) {
    RBDPackageSource source{};
    source.fd = fd;
    return source;
}

int64_t RBD_SourceReadAt(const RBDPackageSource &source, uint64_t offset, void *into, size_t size,
                         int *os_error) {
    *os_error = 0;
    if (source.fd < 0) {
        return ReadThroughFunction(source, offset, into, size, os_error);
    }
    int64_t got = hkReadAt(source.fd, offset, into, size);
    if (got < 0) {
        *os_error = hkErrorCode();
    }
    return got;
}

bool RBD_SourceSize(const RBDPackageSource &source, uint64_t *size, int *os_error) {
    *os_error = 0;
    if (source.fd < 0) {
        *size = source.size;
        return true;
    }
    if (!hkFileSize(source.fd, size)) {
        *os_error = hkErrorCode();
        return false;
    }
    return true;
}

// Where a package's bytes come from: the package's own descriptor, read at
// explicit offsets, or a read function of the caller's (kr_open_source), for
// a host that has no descriptor to give: a browser's File, a blob in memory.
// The walk and every read of entry data go through it, so both kinds are read
// by the one reader of the format.
#pragma once

#include <cstddef>
#include <cstdint>

struct RBDPackageSource {
    int fd; // the descriptor; -1 when the bytes come through `read`
    // The rest only when fd is -1: the source's length, and the caller's
    // function and its context, as kr_source gives them.
    uint64_t size;
    int64_t (*read)(void *ctx, uint64_t offset, void *buf, size_t len);
    void *ctx;
};

// The source that reads descriptor `fd`.
RBDPackageSource RBD_FileSource(int fd);

// Reads `size` bytes at `offset` into `into`, in as many reads as it takes.
// Returns the bytes read, fewer only where the source ends (a function
// source is never asked for bytes past its length), or -1 with the system's
// code (errno; for a function, what it returned, negated) in `*os_error`.
int64_t RBD_SourceReadAt(const RBDPackageSource &source, uint64_t offset, void *into, size_t size,
                         int *os_error);

// The source's length in `*size`; false, with `*os_error`, when a
// descriptor's length can't be had (a pipe).
bool RBD_SourceSize(const RBDPackageSource &source, uint64_t *size, int *os_error);

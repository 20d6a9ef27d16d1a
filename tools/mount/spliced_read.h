// Entry bytes handed to the kernel without passing through the daemon's
// memory: spliced from the package into a pipe of the serving thread's own,
// then by libfuse on to the FUSE device. The package's end is met before
// anything is replied, so a package that shrank gives an error, never a
// short read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fuse_lowlevel.h>

// Replies to `req` with `length` bytes at `offset` of the package open as
// `package_fd`, and returns 0; or returns an errno and replies nothing: EIO
// when the package ends before them, or any other when splicing is not to
// be had, and the caller should read the bytes itself.
int ReplySpliced(fuse_req_t req, int package_fd, uint64_t offset, size_t length);

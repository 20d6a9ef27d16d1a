#include "spliced_read.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A pipe per serving thread, made at its first read and closed when the
// thread ends.
struct ThreadPipe {
    int read_end = -1;
    int write_end = -1;
    size_t capacity = 0;
    ThreadPipe() = default;
    ThreadPipe(const ThreadPipe &) = delete;
    ThreadPipe &operator=(const ThreadPipe &) = delete;
    ~ThreadPipe() {
        Close();
    }
    void Close() {
        if (read_end >= 0) {
            close(read_end);
            close(write_end);
        }
        read_end = write_end = -1;
        capacity = 0;
    }
};

thread_local ThreadPipe thread_pipe;

// Set when the package's file system can't splice: then nothing is spliced.
std::atomic<bool> splice_refused{false};

// The thread's pipe, able to hold `length` bytes of the package at once;
// false when it can't be had (no descriptors, or a pipe that may not grow so
// large). A pipe holds a page in each of its slots, and bytes that start
// within a page take one slot more than their length fills.
bool PipeFor(ThreadPipe &pipe, size_t length) {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t needed = (length + page - 1) / page * page + page;
    if (pipe.read_end < 0) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            return false;
        }
        pipe.read_end = ends[0];
        pipe.write_end = ends[1];
        pipe.capacity = static_cast<size_t>(fcntl(ends[0], F_GETPIPE_SZ));
    }
    if (pipe.capacity < needed) {
        int grown = fcntl(pipe.read_end, F_SETPIPE_SZ, static_cast<int>(needed));
        if (grown < 0) {
            return false;
        }
        pipe.capacity = static_cast<size_t>(grown);
    }
    return pipe.capacity >= needed;
}

} // namespace

int ReplySpliced(fuse_req_t req, int package_fd, uint64_t offset, size_t length) {
    ThreadPipe &pipe = thread_pipe;
    // (No FUSE read asks for a gigabyte; the bound keeps the pipe size an int.)
    if (splice_refused.load(std::memory_order_relaxed) || length > (1u << 30) ||
        !PipeFor(pipe, length)) {
        return ENOTSUP;
    }
    size_t moved = 0;
    while (moved < length) {
        auto at = static_cast<loff_t>(offset + moved);
        ssize_t got =
            splice(package_fd, &at, pipe.write_end, nullptr, length - moved, SPLICE_F_NONBLOCK);
        if (got <= 0 && !(got < 0 && errno == EINTR)) {
            // What was moved is thrown away with the pipe.
            int why = got == 0 ? EIO : errno;
            pipe.Close();
            if (why == EINVAL || why == ENOSYS) {
                splice_refused.store(true, std::memory_order_relaxed);
            }
            return why;
        }
        moved += got > 0 ? static_cast<size_t>(got) : 0;
    }
    fuse_bufvec data{}; // what FUSE_BUFVEC_INIT gives, in C++
    data.count = 1;
    data.buf[0].size = length;
    data.buf[0].flags = FUSE_BUF_IS_FD;
    data.buf[0].fd = pipe.read_end;
    if (fuse_reply_data(req, &data, static_cast<fuse_buf_copy_flags>(0)) != 0) {
        // The request is gone (interrupted): bytes may be left in the pipe,
        // and the next reply must not carry them.
        pipe.Close();
    }
    return 0;
}

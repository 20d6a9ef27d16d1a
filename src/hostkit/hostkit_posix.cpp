// Host services for POSIX systems.
#include "hostkit.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <pthread.h>
#include <signal.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Bytes pass through the program only where sendfile can't take them: small
// enough to cost nothing while unused, large enough that the calls cost little.
const size_t kCopyPiece = size_t{128} << 10;

#ifdef __linux__
// The most asked of sendfile in one call; it moves a little under 2 GiB at
// most anyway.
const uint64_t kKernelPiece = uint64_t{1} << 30;

// Moves what it can of the range by sendfile: the kernel copies from the
// package's cached pages to the output, with no buffer here and nothing
// mapped that a package cut short under us could fault on. Advances `offset`
// and `size` past what went out. Gives HK_COPY_DONE, HK_COPY_SHORT_READ when
// the source ended first, or -1 when sendfile failed or refused (an output
// opened for appending or that the kernel can't splice into, a full disk, a
// read error): the rest then goes through a buffer, which tells those cases
// apart.
int SendRange(int out_fd, int in_fd, uint64_t &offset, uint64_t &size) {
    while (size > 0) {
        auto at = static_cast<off_t>(offset);
        size_t want = static_cast<size_t>(size < kKernelPiece ? size : kKernelPiece);
        ssize_t sent = sendfile(out_fd, in_fd, &at, want);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EPIPE)) {
            // The output refuses bytes, for now or for good: a buffer would
            // meet the same refusal.
            return HK_COPY_WRITE_FAILED;
        }
        if (sent < 0) {
            return -1;
        }
        if (sent == 0) {
            return HK_COPY_SHORT_READ;
        }
        offset += static_cast<uint64_t>(sent);
        size -= static_cast<uint64_t>(sent);
    }
    return HK_COPY_DONE;
}
#endif

// Writes `length` bytes, adding to `written` what went out, however it ends.
bool WriteAll(int fd, const char *bytes, size_t length, size_t &written) {
    written = 0;
    while (written < length) {
        ssize_t put = write(fd, bytes + written, length - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return false;
        }
        if (put == 0) {
            errno = EIO; // so that hkGetError still gives a reason
            return false;
        }
        written += static_cast<size_t>(put);
    }
    return true;
}

// pread and write in pieces of a buffer of the call's own, so that any
// number of threads may copy at once. Advances `offset` and `size` past what
// went out, as SendRange does.
int CopyThroughBuffer(int out_fd, int in_fd, uint64_t &offset, uint64_t &size) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPiece]);
    if (buffer == nullptr) {
        errno = ENOMEM;
        return HK_COPY_WRITE_FAILED;
    }
    char *piece = buffer.get();
    while (size > 0) {
        size_t want = static_cast<size_t>(size < kCopyPiece ? size : kCopyPiece);
        ssize_t got = pread(in_fd, piece, want, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return HK_COPY_SHORT_READ;
        }
        size_t written = 0;
        bool whole = WriteAll(out_fd, piece, static_cast<size_t>(got), written);
        offset += written;
        size -= written;
        if (!whole) {
            return HK_COPY_WRITE_FAILED;
        }
    }
    return HK_COPY_DONE;
}

// Copies the range, advancing `offset` and `size` past what went out.
int CopyAdvancing(int out_fd, int in_fd, uint64_t &offset, uint64_t &size) {
    // No file holds bytes past the largest offset.
    const auto largest = static_cast<uint64_t>(INT64_MAX);
    if (offset > largest || size > largest - offset) {
        return HK_COPY_SHORT_READ;
    }
    // sendfile copies between files on Linux only (elsewhere it takes other
    // arguments, or sends to sockets only); the buffer takes what it leaves.
#ifdef __linux__
    int sent = SendRange(out_fd, in_fd, offset, size);
    if (sent != -1) {
        return sent;
    }
#endif
    return CopyThroughBuffer(out_fd, in_fd, offset, size);
}

// SIGPIPE held back in the calling thread, for hkSendRange.
struct HeldPipeSignal {
    sigset_t pipe_only;
    sigset_t old_mask;
    bool pending_before; // the caller's own, never to be taken away
    bool held;
};

bool PipeSignalPending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

void HoldPipeSignal(HeldPipeSignal &hold) {
    sigemptyset(&hold.pipe_only);
    sigaddset(&hold.pipe_only, SIGPIPE);
    // A SIGPIPE can be pending only while the caller blocks it (an ignored
    // one is dropped, an unblocked one delivered): it is the caller's.
    hold.pending_before = PipeSignalPending();
    hold.held = pthread_sigmask(SIG_BLOCK, &hold.pipe_only, &hold.old_mask) == 0;
}

// Takes away the SIGPIPE that a write of this call raised, if any, and puts
// the caller's mask back; errno is kept for hkGetError.
void ReleasePipeSignal(HeldPipeSignal &hold, bool broke_pipe) {
    int error = errno;
    if (broke_pipe && !hold.pending_before && PipeSignalPending()) {
        const timespec now{0, 0};
        while (sigtimedwait(&hold.pipe_only, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    if (hold.held) {
        pthread_sigmask(SIG_SETMASK, &hold.old_mask, nullptr);
    }
    errno = error;
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

namespace {

// strerror_r comes in two kinds: the GNU one returns its text, which may not
// be in the buffer; the POSIX one fills the buffer and returns a status.
[[maybe_unused]] const char *ErrorText(int result, const char *buffer) {
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char *ErrorText(const char *text, const char * /*buffer*/) {
    return text;
}

} // namespace

const char *hkGetError(void) {
    // strerror's text may be overwritten by another thread; this one is the
    // calling thread's own.
    thread_local char text[256];
    int error = errno;
    return ErrorText(strerror_r(error, text, sizeof text), text);
}

int hkErrorCode(void) {
    return errno;
}

const char *hkGetFileName(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
    return CopyAdvancing(out_fd, in_fd, offset, size);
}

int hkSendRange(int out_fd, int in_fd, uint64_t offset, uint64_t size, uint64_t *sent) {
    uint64_t left = size;
    HeldPipeSignal hold{};
    HoldPipeSignal(hold);
    int result = CopyAdvancing(out_fd, in_fd, offset, left);
    ReleasePipeSignal(hold, result == HK_COPY_WRITE_FAILED && errno == EPIPE);
    if (sent != nullptr) {
        *sent = size - left;
    }
    return result;
}

int64_t hkReadAt(int fd, uint64_t offset, void *into, size_t size) {
    char *bytes = static_cast<char *>(into);
    size_t got = 0;
    while (got < size) {
        uint64_t at = offset + got;
        if (at > static_cast<uint64_t>(INT64_MAX)) {
            break; // no file holds bytes there
        }
        ssize_t read_now = pread(fd, bytes + got, size - got, static_cast<off_t>(at));
        if (read_now < 0 && errno == EINTR) {
            continue;
        }
        if (read_now < 0) {
            return -1;
        }
        if (read_now == 0) {
            break;
        }
        got += static_cast<size_t>(read_now);
    }
    return static_cast<int64_t>(got);
}

bool hkFileSize(int fd, uint64_t *size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }
    // A device says its length only to a seek to its end; the position is
    // put back at once. A pipe can't seek at all.
    off_t position = lseek(fd, 0, SEEK_CUR);
    off_t end = position < 0 ? -1 : lseek(fd, 0, SEEK_END);
    if (end < 0 || lseek(fd, position, SEEK_SET) < 0) {
        return false;
    }
    *size = static_cast<uint64_t>(end);
    return true;
}

bool hkWriteAll(int fd, const void *bytes, size_t size) {
    size_t written = 0;
    return WriteAll(fd, static_cast<const char *>(bytes), size, written);
}

bool hkWriteAt(int fd, uint64_t offset, const void *bytes, size_t size) {
    const char *from = static_cast<const char *>(bytes);
    while (size > 0) {
        ssize_t put = pwrite(fd, from, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (put == 0) {
                errno = EIO;
            }
            return false;
        }
        from += put;
        offset += static_cast<uint64_t>(put);
        size -= static_cast<size_t>(put);
    }
    return true;
}

int hkCopyFileRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
#ifdef __linux__
    // copy_file_range takes the input's offset, moves the output's position
    // like a write, and never touches the input's. Any refusal (another file
    // system, a kernel without it, a full disk) leaves the rest to
    // hkCopyRange, which meets and tells the same failure.
    while (size > 0 && offset <= static_cast<uint64_t>(INT64_MAX)) {
        auto at = static_cast<loff_t>(offset);
        size_t want = static_cast<size_t>(size < kKernelPiece ? size : kKernelPiece);
        ssize_t copied = copy_file_range(in_fd, &at, out_fd, nullptr, want, 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied < 0) {
            break;
        }
        if (copied == 0) {
            return HK_COPY_SHORT_READ;
        }
        offset += static_cast<uint64_t>(copied);
        size -= static_cast<uint64_t>(copied);
    }
#endif
    return CopyAdvancing(out_fd, in_fd, offset, size);
}

int hkReopenForReading(int fd) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Host services for Windows.
//
// Every name goes through the narrow (ANSI code page) functions, byte for
// byte: the C library's fopen converts its names the same way, so the
// directories made here and the files the program then opens in them are
// always named alike.
#include "hostkit.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <new>
#include <windows.h>

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Pieces of hkCopyRange, in a buffer of each call's own, so that any number
// of threads may copy at once.
const DWORD kCopyPiece = DWORD{1} << 20;

// Reads up to `want` bytes at `offset` of `source`; how many arrived, 0 at
// the end of the file or on a failure.
DWORD ReadAt(HANDLE source, uint64_t offset, char *into, DWORD want) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(source, into, want, &got, &at) ? got : 0;
}

// Advances `offset` and `size` past what went out, however it ends.
int CopyThroughBuffer(int out_fd, HANDLE source, uint64_t &offset, uint64_t &size) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPiece]);
    if (buffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return HK_COPY_WRITE_FAILED;
    }
    char *piece = buffer.get();
    while (size > 0) {
        DWORD want = size < kCopyPiece ? static_cast<DWORD>(size) : kCopyPiece;
        DWORD got = ReadAt(source, offset, piece, want);
        if (got == 0) {
            return HK_COPY_SHORT_READ;
        }
        int put = _write(out_fd, piece, got);
        if (put > 0) {
            offset += static_cast<uint64_t>(put);
            size -= static_cast<uint64_t>(put);
        }
        if (put != static_cast<int>(got)) {
            // A short write to a file in binary mode is a full disk.
            if (put >= 0) {
                SetLastError(ERROR_DISK_FULL);
            }
            return HK_COPY_WRITE_FAILED;
        }
    }
    return HK_COPY_DONE;
}

} // namespace

bool hkFileExists(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

const char *hkGetError(void) {
    // The calling thread's own text, as the C library keeps errno.
    thread_local char text[512];
    DWORD error = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    if (length == 0) {
        std::snprintf(text, sizeof text, "Unknown error %lu", static_cast<unsigned long>(error));
        return text;
    }
    // System messages end in a line break; the caller prints its own.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        text[--length] = '\0';
    }
    return text;
}

int hkErrorCode(void) {
    return static_cast<int>(GetLastError());
}

const char *hkGetFileName(const char *path) {
    const char *name = path;
    if (IsDriveLetter(path[0]) && path[1] == ':') {
        name = path + 2; // "C:music.rbd" is music.rbd on drive C
    }
    for (const char *p = name; *p != '\0'; ++p) {
        if (IsSeparator(*p)) {
            name = p + 1;
        }
    }
    return name;
}

namespace {

// The Win32 handle behind a C runtime descriptor, which the runtime hands out
// as an integer.
HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
}

} // namespace

int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
    HANDLE source = HandleOf(in_fd);
    if (source == INVALID_HANDLE_VALUE) {
        return HK_COPY_SHORT_READ;
    }
    return CopyThroughBuffer(out_fd, source, offset, size);
}

int hkSendRange(int out_fd, int in_fd, uint64_t offset, uint64_t size, uint64_t *sent) {
    // Windows raises no signal for a pipe whose reader has gone: the write
    // fails, and that is all.
    uint64_t left = size;
    HANDLE source = HandleOf(in_fd);
    int result = source == INVALID_HANDLE_VALUE ? HK_COPY_SHORT_READ
                                                : CopyThroughBuffer(out_fd, source, offset, left);
    if (sent != nullptr) {
        *sent = size - left;
    }
    return result;
}

int64_t hkReadAt(int fd, uint64_t offset, void *into, size_t size) {
    HANDLE source = HandleOf(fd);
    if (source == INVALID_HANDLE_VALUE) {
        return -1;
    }
    char *bytes = static_cast<char *>(into);
    size_t got = 0;
    while (got < size) {
        size_t left = size - got;
        DWORD want = left < kCopyPiece ? static_cast<DWORD>(left) : kCopyPiece;
        OVERLAPPED at{};
        uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD read_now = 0;
        if (!ReadFile(source, bytes + got, want, &read_now, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return -1;
        }
        if (read_now == 0) {
            break;
        }
        got += read_now;
    }
    return static_cast<int64_t>(got);
}

bool hkFileSize(int fd, uint64_t *size) {
    LARGE_INTEGER length{};
    HANDLE file = HandleOf(fd);
    if (file == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        // A pipe or a console has no length to measure.
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    if (!GetFileSizeEx(file, &length)) {
        return false;
    }
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

bool hkWriteAll(int fd, const void *bytes, size_t size) {
    const char *from = static_cast<const char *>(bytes);
    while (size > 0) {
        unsigned want = size < kCopyPiece ? static_cast<unsigned>(size) : kCopyPiece;
        int put = _write(fd, from, want);
        if (put <= 0) {
            if (put == 0) {
                SetLastError(ERROR_DISK_FULL);
            }
            return false;
        }
        from += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool hkWriteAt(int fd, uint64_t offset, const void *bytes, size_t size) {
    HANDLE file = HandleOf(fd);
    const char *from = static_cast<const char *>(bytes);
    while (size > 0) {
        DWORD want = size < kCopyPiece ? static_cast<DWORD>(size) : kCopyPiece;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD put = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, from, want, &put, &at) || put == 0) {
            return false;
        }
        from += put;
        offset += put;
        size -= put;
    }
    return true;
}

int hkCopyFileRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
    return hkCopyRange(out_fd, in_fd, offset, size);
}

int hkReopenForReading(int fd) {
    HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    // A handle opened anew has a file position of its own, which a read at
    // an offset moves; a duplicate would share the caller's.
    const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE own = ReOpenFile(handle, GENERIC_READ, share_all, 0);
    if (own == INVALID_HANDLE_VALUE &&
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return -1;
    }
    int own_fd = _open_osfhandle(reinterpret_cast<intptr_t>(own), _O_RDONLY | _O_BINARY);
    if (own_fd < 0) {
        CloseHandle(own);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    }
    return own_fd;
}

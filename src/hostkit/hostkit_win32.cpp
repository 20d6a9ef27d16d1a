// Host services for Windows.
//
// Every name goes through the narrow (ANSI code page) functions, byte for
// byte: the C library's fopen converts its names the same way, so the
// directories made here and the files the program then opens in them are
// always named alike.
#include "hostkit.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDirectory(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// CreateDirectoryA that counts an existing directory as success.
bool MakeDirectory(const char *path) {
    if (CreateDirectoryA(path, nullptr)) {
        return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
        return false;
    }
    // "C:\" and the like refuse creation with access denied although they
    // exist; anything that is not a directory stays a failure.
    if (IsDirectory(path)) {
        return true;
    }
    SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
    return false;
}

// Length of a leading drive ("C:") that names no directory of its own.
size_t DriveLength(const std::string &path) {
    return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':' ? 2 : 0;
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
    static char text[512];
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

bool hkInitialize(int argc, char **argv) {
    (void)argc;
    (void)argv;
    return true;
}

bool hkCreatePath(const char *path) {
    // Nearly every call names a directory made by an earlier entry.
    if (IsDirectory(path)) {
        return true;
    }
    std::string prefix(path);
    for (size_t i = DriveLength(prefix) + 1; i < prefix.size(); ++i) {
        if (!IsSeparator(prefix[i]) || IsSeparator(prefix[i - 1])) {
            continue;
        }
        char separator = prefix[i];
        prefix[i] = '\0';
        bool made = MakeDirectory(prefix.c_str());
        prefix[i] = separator;
        if (!made) {
            return false;
        }
    }
    if (prefix.size() > DriveLength(prefix) && !IsSeparator(prefix.back())) {
        return MakeDirectory(prefix.c_str());
    }
    return IsDirectory(path);
}

// The C library's heap: entries are read and written in one piece each, and
// the heap serves blocks of any size without help.
void *hkAllocate(size_t size) {
    return std::malloc(size > 0 ? size : 1);
}

void hkRelease(void *block, size_t size) {
    (void)size;
    std::free(block);
}

// Through the C runtime's descriptors, in pieces of a reused buffer: the
// source's position is put back afterwards, so the caller sees it unmoved.
int hkCopyRange(int out_fd, int in_fd, uint64_t offset, uint64_t size) {
    const uint64_t piece_size = uint64_t{1} << 20;
    std::string piece(static_cast<size_t>(size < piece_size ? size : piece_size), '\0');
    __int64 position = _lseeki64(in_fd, 0, SEEK_CUR);
    if (position < 0 || _lseeki64(in_fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
        return HK_COPY_SHORT_READ;
    }
    int result = HK_COPY_DONE;
    while (size > 0 && result == HK_COPY_DONE) {
        unsigned want = static_cast<unsigned>(size < piece.size() ? size : piece.size());
        int got = _read(in_fd, piece.data(), want);
        if (got <= 0) {
            result = HK_COPY_SHORT_READ;
        } else if (_write(out_fd, piece.data(), static_cast<unsigned>(got)) != got) {
            result = HK_COPY_WRITE_FAILED;
        } else {
            size -= static_cast<uint64_t>(got);
        }
    }
    _lseeki64(in_fd, position, SEEK_SET);
    return result;
}

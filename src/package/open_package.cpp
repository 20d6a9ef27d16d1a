#include "open_package.h"

#include <cerrno>
#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

int Refuse(RBDOpenFailure &failure, const char *kind, int os_error) {
    failure.os_error = os_error;
    failure.kind = kind;
    return -1;
}

} // namespace

#ifdef _WIN32

namespace {

// Only a file on disk can be read at offsets; a pipe or a console can't.
// (CreateFileA opens no directory without being asked to.)
bool CheckHandle(HANDLE handle, RBDOpenFailure &failure) {
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
        return true;
    case FILE_TYPE_PIPE:
        Refuse(failure, "a pipe", ERROR_INVALID_FUNCTION);
        return false;
    case FILE_TYPE_CHAR:
        Refuse(failure, "a character device", ERROR_INVALID_FUNCTION);
        return false;
    default:
        Refuse(failure, "a file of an unknown kind", ERROR_INVALID_FUNCTION);
        return false;
    }
}

} // namespace

int RBD_OpenPackageFile(const char *path, RBDOpenFailure &failure) {
    // Not inherited by child processes; others may read, write, rename or
    // delete the file meanwhile, as on POSIX systems.
    const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileA(path, GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Refuse(failure, nullptr, static_cast<int>(GetLastError()));
    }
    if (!CheckHandle(handle, failure)) {
        CloseHandle(handle);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return Refuse(failure, nullptr, ERROR_TOO_MANY_OPEN_FILES);
    }
    return fd;
}

bool RBD_CheckPackageFile(int fd, RBDOpenFailure &failure) {
    // The C runtime hands out its handles as integers.
    HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE
                           : reinterpret_cast<HANDLE>( // NOLINT(performance-no-int-to-ptr)
                                 _get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        Refuse(failure, nullptr, ERROR_INVALID_HANDLE);
        return false;
    }
    return CheckHandle(handle, failure);
}

#else

bool RBD_CheckPackageFile(int fd, RBDOpenFailure &failure) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        Refuse(failure, nullptr, errno);
        return false;
    }
    const char *kind = nullptr;
    if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) {
        return true;
    }
    if (S_ISDIR(status.st_mode)) {
        Refuse(failure, "a directory", EISDIR);
        return false;
    }
    if (S_ISFIFO(status.st_mode)) {
        kind = "a FIFO";
    } else if (S_ISSOCK(status.st_mode)) {
        kind = "a socket";
    } else if (S_ISCHR(status.st_mode)) {
        kind = "a character device";
    } else {
        kind = "a file of an unknown kind";
    }
    // What a read at an offset of such a file would have said.
    Refuse(failure, kind, ESPIPE);
    return false;
}

int RBD_OpenPackageFile(const char *path, RBDOpenFailure &failure) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a
    // terminal named as the package must not become the process's own.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Refuse(failure, nullptr, errno);
    }
    if (!RBD_CheckPackageFile(fd, failure)) {
        close(fd);
        return -1;
    }
    // Reads block as usual: a file system may honour the flag for regular
    // files too and answer EAGAIN.
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int error = errno;
        close(fd);
        return Refuse(failure, nullptr, error);
    }
    return fd;
}

#endif

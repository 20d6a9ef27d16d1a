// Host services for POSIX systems: output below directory handles, and
// the reading of a tree below them.
//
// Every directory and file is reached relative to an open directory, one name
// at a time or, on Linux, through openat2 with RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS, so that the kernel itself refuses any symbolic link
// on the way and a path is never resolved twice.
#include "hostkit.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

// Directories are opened only to be named in *at calls: O_PATH needs no read
// permission on them, as a path through them would not.
#ifdef O_PATH
#define HK_DIRECTORY_FLAGS (O_PATH | O_DIRECTORY | O_CLOEXEC)
#else
#define HK_DIRECTORY_FLAGS (O_RDONLY | O_DIRECTORY | O_CLOEXEC)
#endif

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct hkDirectory {
    int fd;
};

namespace {

int DirectoryFd(const hkDirectory *dir) {
    return dir != nullptr ? dir->fd : AT_FDCWD;
}

hkDirectory *Wrap(int fd) {
    hkDirectory *dir = new (std::nothrow) hkDirectory;
    if (dir == nullptr) {
        close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    dir->fd = fd;
    return dir;
}

#if defined(__linux__) && defined(SYS_openat2)
// The whole of `relative` in one call, when every level exists; -1 otherwise.
// Any failure, a kernel without openat2 (before Linux 5.6) or a sandbox that
// refuses it included, leaves the diagnosis and the creation of missing
// levels to the walk one name at a time. Nothing is remembered between
// calls: such a refusal costs one system call per group directory.
int OpenBeneath(int base_fd, const char *relative) {
    while (*relative == '/') {
        ++relative; // an absolute path would be refused
    }
    open_how how{};
    how.flags = HK_DIRECTORY_FLAGS;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(
        syscall(SYS_openat2, base_fd, *relative != '\0' ? relative : ".", &how, sizeof how));
}
#else
int OpenBeneath(int, const char *) {
    return -1;
}
#endif

int OpenLevel(int parent, const char *name) {
    return openat(parent, name, HK_DIRECTORY_FLAGS | O_NOFOLLOW);
}

// Says why `name` in `parent` could not be opened as a directory.
int Classify(int parent, const char *name) {
    int error = errno;
    struct stat st {};
    int why = HK_BELOW_FAILED;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            why = HK_BELOW_LINK;
        } else if (!S_ISDIR(st.st_mode)) {
            why = HK_BELOW_NOT_DIRECTORY;
        }
    }
    errno = error;
    return why;
}

// Opens, or creates and opens, one level. `fresh` says that `parent` was
// made by this walk, so that its children can't exist yet: then creation is
// tried first, and becomes true when this level is made too. Without
// `create` a missing level fails.
int OpenOrMake(int parent, const char *name, bool create, bool &fresh, int *why) {
    int fd = fresh ? -1 : OpenLevel(parent, name);
    if (fd < 0 && create && (fresh || errno == ENOENT)) {
        if (mkdirat(parent, name, 0777) == 0) {
            fresh = true;
        } else if (errno != EEXIST) {
            *why = HK_BELOW_FAILED;
            return -1;
        } else {
            fresh = false;
        }
        fd = OpenLevel(parent, name);
    }
    if (fd < 0) {
        *why = Classify(parent, name);
    }
    return fd;
}

// One level after another from `base_fd`, each opened without following a
// link and, with `create`, made when missing.
int WalkBelow(int base_fd, const char *relative, bool create, int *why) {
    int current = base_fd;
    bool fresh = false;
    std::string name;
    const char *p = relative;
    while (*p != '\0') {
        const char *end = std::strchr(p, '/');
        if (end == nullptr) {
            end = p + std::strlen(p);
        }
        name.assign(p, static_cast<size_t>(end - p));
        p = *end == '/' ? end + 1 : end;
        if (name.empty() || name == ".") {
            continue;
        }
        int next = -1;
        if (name == "..") {
            errno = EINVAL;
            *why = HK_BELOW_FAILED;
        } else {
            next = OpenOrMake(current, name.c_str(), create, fresh, why);
        }
        if (current != base_fd) {
            close(current);
        }
        if (next < 0) {
            return -1;
        }
        current = next;
    }
    if (current == base_fd) {
        current = openat(base_fd, ".", HK_DIRECTORY_FLAGS);
        if (current < 0) {
            *why = HK_BELOW_FAILED;
        }
    }
    return current;
}

} // namespace

hkDirectory *hkOpenDirectory(const char *path) {
    int fd = open(path, HK_DIRECTORY_FLAGS);
    return fd < 0 ? nullptr : Wrap(fd);
}

hkDirectory *hkOpenBelow(hkDirectory *base, const char *relative, int *why) {
    int base_fd = DirectoryFd(base);
    int fd = OpenBeneath(base_fd, relative);
    if (fd < 0) {
        fd = WalkBelow(base_fd, relative, true, why);
    }
    return fd < 0 ? nullptr : Wrap(fd);
}

hkDirectory *hkFindBelow(hkDirectory *base, const char *relative, int *why) {
    int base_fd = DirectoryFd(base);
    int fd = OpenBeneath(base_fd, relative);
    if (fd < 0) {
        fd = WalkBelow(base_fd, relative, false, why);
    }
    return fd < 0 ? nullptr : Wrap(fd);
}

int hkDirectoryFd(const hkDirectory *dir) {
    return dir != nullptr ? dir->fd : -1;
}

void hkCloseDirectory(hkDirectory *dir) {
    if (dir != nullptr) {
        close(dir->fd);
        delete dir;
    }
}

int hkCreateFile(hkDirectory *dir, const char *name, int *fd) {
    // O_EXCL never opens what is there, not even through a link, and a FIFO
    // or a device is never opened, so nothing can block.
    *fd =
        openat(DirectoryFd(dir), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (*fd >= 0) {
        return HK_CREATE_DONE;
    }
    return errno == EEXIST ? HK_CREATE_EXISTS : HK_CREATE_FAILED;
}

bool hkCloseFile(int fd) {
    return close(fd) == 0;
}

bool hkEmptyFile(int fd) {
    return ftruncate(fd, 0) == 0;
}

bool hkRemoveBelow(hkDirectory *dir, const char *name) {
    return unlinkat(DirectoryFd(dir), name, 0) == 0;
}

bool hkCanReplaceNames(void) {
    return true;
}

bool hkIdentityBelow(hkDirectory *dir, const char *name, hkFileId *id) {
    struct stat st {};
    if (fstatat(DirectoryFd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    *id = hkFileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                   S_ISDIR(st.st_mode)};
    return true;
}

bool hkDescriptorIdentity(int fd, hkFileId *id) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return false;
    }
    *id = hkFileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                   S_ISDIR(st.st_mode)};
    return true;
}

// The listing reads a descriptor of its own: a directory handle is opened to
// be named in *at calls only (O_PATH), which can't be read.
struct hkListing {
    DIR *dir;
};

hkListing *hkListDirectory(hkDirectory *dir) {
    int fd = openat(DirectoryFd(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto *listing = new (std::nothrow) hkListing;
    DIR *stream = listing != nullptr ? fdopendir(fd) : nullptr;
    if (stream == nullptr) {
        int error = listing != nullptr ? errno : ENOMEM;
        delete listing;
        close(fd);
        errno = error;
        return nullptr;
    }
    listing->dir = stream;
    return listing;
}

namespace {

int KindOf(mode_t mode) {
    if (S_ISLNK(mode)) {
        return HK_KIND_LINK;
    }
    if (S_ISDIR(mode)) {
        return HK_KIND_DIRECTORY;
    }
    return S_ISREG(mode) ? HK_KIND_FILE : HK_KIND_OTHER;
}

} // namespace

int hkNextName(hkListing *listing, const char **name, int *kind) {
    for (;;) {
        errno = 0;
        const struct dirent *entry = readdir(listing->dir);
        if (entry == nullptr) {
            return errno == 0 ? 0 : -1;
        }
        const char *found = entry->d_name;
        if (std::strcmp(found, ".") == 0 || std::strcmp(found, "..") == 0) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(listing->dir), found, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue; // removed since it was listed
            }
            return -1;
        }
        *name = found;
        *kind = KindOf(st.st_mode);
        return 1;
    }
}

void hkCloseListing(hkListing *listing) {
    if (listing != nullptr) {
        closedir(listing->dir);
        delete listing;
    }
}

int hkOpenFileBelow(hkDirectory *dir, const char *name, int *fd) {
    // Looked at first, so that a device is never opened (opening one may
    // act on it); O_NOFOLLOW and O_NONBLOCK hold even if the name changes
    // in between, and what was opened is looked at again.
    struct stat st {};
    if (fstatat(DirectoryFd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return HK_OPEN_FAILED;
    }
    if (!S_ISREG(st.st_mode)) {
        return S_ISLNK(st.st_mode) ? HK_OPEN_LINK : HK_OPEN_NOT_FILE;
    }
    *fd = openat(DirectoryFd(dir), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (*fd < 0) {
        return errno == ELOOP ? HK_OPEN_LINK : HK_OPEN_FAILED;
    }
    int refused = fstat(*fd, &st) != 0   ? HK_OPEN_FAILED
                  : !S_ISREG(st.st_mode) ? HK_OPEN_NOT_FILE
                                         : HK_OPEN_DONE;
    if (refused != HK_OPEN_DONE) {
        int error = errno;
        close(*fd);
        *fd = -1;
        errno = error;
    }
    return refused;
}

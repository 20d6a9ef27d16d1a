// Host services for POSIX systems: replacing a file at once.
//
// The new file is made in the target's directory, by its directory handle,
// with no name at all where Linux allows it (O_TMPFILE): nothing can then
// leave it behind, and it gets a name only at the last moment, by linkat
// through /proc/self/fd. Elsewhere it is named from the start, hidden
// (".<name>.<8 hex digits>.tmp"), and the signals that would end the process
// are held back for as long as it has that name, so that the caller can
// remove it first. Only kill -9, or a crash, can leave such a name: between
// the link and the rename of an unnamed file, or any time a named one exists.
#include "hostkit.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/random.h>
#include <sys/syscall.h>
#endif

namespace {

// The signals that end a process by default and that a user sends to stop
// a program; those the caller handles or blocks are left alone.
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct SignalHold {
    sigset_t held; // what this hold blocked
    sigset_t old;  // the thread's mask before
    bool active;
};

void Hold(SignalHold &hold) {
    sigemptyset(&hold.held);
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    for (int number : kEndingSignals) {
        struct sigaction action {};
        if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_DFL &&
            sigismember(&current, number) == 0) {
            sigaddset(&hold.held, number);
        }
    }
    hold.active = pthread_sigmask(SIG_BLOCK, &hold.held, &hold.old) == 0;
}

// Lets the held signals go: one that came meanwhile is delivered now.
void Release(SignalHold &hold) {
    if (hold.active) {
        int error = errno;
        pthread_sigmask(SIG_SETMASK, &hold.old, nullptr);
        errno = error;
        hold.active = false;
    }
}

bool HeldSignalPending(const SignalHold &hold) {
    if (!hold.active) {
        return false;
    }
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return false;
    }
    for (int number : kEndingSignals) {
        if (sigismember(&hold.held, number) == 1 && sigismember(&pending, number) == 1) {
            return true;
        }
    }
    return false;
}

} // namespace

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct hkTarget {
    int dir_fd;        // the directory that holds the name
    bool dir_readable; // opened for reading, so that it can be flushed
    std::string name;
    int temp_fd;           // the temporary, or -1
    bool temp_unnamed;     // made with O_TMPFILE
    std::string temp_name; // the name of a named temporary
    SignalHold hold;       // while a named temporary exists
};

namespace {

void Split(const std::string &path, std::string &dir, std::string &name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        name = path;
    } else {
        dir = slash == 0 ? std::string("/") : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// A directory handle: readable where possible, so that it can be flushed.
int OpenDirectory(int base_fd, const std::string &dir, bool &readable) {
    int fd = openat(base_fd, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    readable = fd >= 0;
#ifdef O_PATH
    if (fd < 0 && errno == EACCES) {
        fd = openat(base_fd, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
#endif
    return fd;
}

const int kMaxLinks = 40;

// Follows the links at the target's name to the name of the file they lead
// to, moving the directory handle along. False with errno set.
bool FollowLinks(hkTarget &target) {
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (fstatat(target.dir_fd, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // A name that leads nowhere is refused: a link there is not
            // the user's new file.
            return errno == ENOENT && hops == 0;
        }
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            return true;
        }
        char text[PATH_MAX];
        ssize_t length = readlinkat(target.dir_fd, target.name.c_str(), text, sizeof text - 1);
        if (hops == kMaxLinks || length < 0) {
            errno = length < 0 ? errno : ELOOP;
            return false;
        }
        std::string dir;
        Split(std::string(text, static_cast<size_t>(length)), dir, target.name);
        bool readable = false;
        int next = OpenDirectory(target.dir_fd, dir, readable);
        if (next < 0 || target.name.empty()) {
            errno = next < 0 ? errno : EISDIR;
            if (next >= 0) {
                close(next);
            }
            return false;
        }
        close(target.dir_fd);
        target.dir_fd = next;
        target.dir_readable = readable;
    }
}

uint32_t RandomWord() {
#ifdef __linux__
    unsigned char bytes[4] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) == sizeof bytes) {
        return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
               bytes[3];
    }
#endif
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uintptr_t address = reinterpret_cast<uintptr_t>(&now);
    return static_cast<uint32_t>(now.tv_nsec) ^ static_cast<uint32_t>(getpid() << 16) ^
           static_cast<uint32_t>(address);
}

// ".<name>.<8 hex digits><suffix>", the name cut so that the whole fits.
std::string HiddenName(const hkTarget &target, const char *suffix) {
    char tail[32];
    std::snprintf(tail, sizeof tail, ".%08x%s", static_cast<unsigned>(RandomWord()), suffix);
    return "." + target.name.substr(0, 200) + tail;
}

// Creates a new file under a fresh hidden name; -1 with errno.
int CreateNamed(hkTarget &target, const char *suffix, int mode, std::string &name) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        name = HiddenName(target, suffix);
        int fd = openat(target.dir_fd, name.c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// An unnamed file in the target's directory; -1 where the system or the
// file system has none.
int CreateUnnamed(const hkTarget &target, int mode) {
#ifdef O_TMPFILE
    return openat(target.dir_fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#else
    (void)target;
    (void)mode;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

std::string ProcPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// True when /proc can give the unnamed file a name later.
bool CanBeLinked(int fd) {
    struct stat own {};
    struct stat seen {};
    return fstat(fd, &own) == 0 && stat(ProcPath(fd).c_str(), &seen) == 0 &&
           own.st_ino == seen.st_ino && own.st_dev == seen.st_dev;
}

bool LinkUnnamed(hkTarget &target, const std::string &name) {
    return linkat(AT_FDCWD, ProcPath(target.temp_fd).c_str(), target.dir_fd, name.c_str(),
                  AT_SYMLINK_FOLLOW) == 0;
}

// Gives the unnamed temporary a hidden name, then renames it over the target.
bool ReplaceWithUnnamed(hkTarget &target) {
    std::string name;
    bool linked = false;
    for (int attempt = 0; attempt < 64 && !linked; ++attempt) {
        name = HiddenName(target, ".tmp");
        linked = LinkUnnamed(target, name);
        if (!linked && errno != EEXIST) {
            return false;
        }
    }
    if (!linked) {
        return false;
    }
    if (renameat(target.dir_fd, name.c_str(), target.dir_fd, target.name.c_str()) == 0) {
        return true;
    }
    int error = errno;
    unlinkat(target.dir_fd, name.c_str(), 0);
    errno = error;
    return false;
}

// The named temporary to the target's name, never over anything there.
bool PlaceNamedNoReplace(hkTarget &target) {
#if defined(__linux__) && defined(SYS_renameat2)
    const unsigned rename_noreplace = 1;
    if (syscall(SYS_renameat2, target.dir_fd, target.temp_name.c_str(), target.dir_fd,
                target.name.c_str(), rename_noreplace) == 0) {
        return true;
    }
    if (errno != ENOSYS && errno != EINVAL) {
        return false;
    }
#endif
    // A link fails where the name is taken; the temporary's own name goes after.
    if (linkat(target.dir_fd, target.temp_name.c_str(), target.dir_fd, target.name.c_str(), 0) !=
        0) {
        return false;
    }
    unlinkat(target.dir_fd, target.temp_name.c_str(), 0);
    return true;
}

bool PlaceNamed(hkTarget &target, bool replace) {
    if (!replace) {
        return PlaceNamedNoReplace(target);
    }
    return renameat(target.dir_fd, target.temp_name.c_str(), target.dir_fd, target.name.c_str()) ==
           0;
}

bool PlaceUnnamed(hkTarget &target, bool replace) {
    SignalHold hold{};
    Hold(hold);
    bool placed = replace ? ReplaceWithUnnamed(target) : LinkUnnamed(target, target.name);
    Release(hold);
    return placed;
}

bool StampOf(const struct stat &st, hkFileStamp *stamp) {
    stamp->exists = true;
    stamp->regular = S_ISREG(st.st_mode);
    stamp->volume = static_cast<uint64_t>(st.st_dev);
    stamp->file = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp->mode = static_cast<uint32_t>(st.st_mode & 07777);
    stamp->owner = static_cast<uint32_t>(st.st_uid);
    stamp->group = static_cast<uint32_t>(st.st_gid);
    return true;
}

void CloseTemporary(hkTarget &target) {
    int error = errno;
    close(target.temp_fd);
    target.temp_fd = -1;
    target.temp_name.clear();
    errno = error;
}

} // namespace

hkTarget *hkOpenTarget(const char *path) {
    hkTarget *target = new (std::nothrow) hkTarget();
    if (target == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    target->temp_fd = -1;
    std::string dir;
    Split(path, dir, target->name);
    target->dir_fd = target->name.empty() ? -1 : OpenDirectory(AT_FDCWD, dir, target->dir_readable);
    if (target->name.empty()) {
        errno = EISDIR;
    }
    if (target->dir_fd < 0 || !FollowLinks(*target)) {
        int error = errno;
        hkCloseTarget(target);
        errno = error;
        return nullptr;
    }
    return target;
}

void hkCloseTarget(hkTarget *target) {
    if (target != nullptr) {
        hkDiscardTemporary(target);
        if (target->dir_fd >= 0) {
            close(target->dir_fd);
        }
        delete target;
    }
}

bool hkTargetStamp(const hkTarget *target, hkFileStamp *stamp) {
    struct stat st {};
    *stamp = hkFileStamp{};
    if (fstatat(target->dir_fd, target->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    return StampOf(st, stamp);
}

int hkCreateSpool(hkTarget *target) {
    int fd = CreateUnnamed(*target, 0600);
    if (fd >= 0) {
        return fd;
    }
    SignalHold hold{};
    Hold(hold);
    std::string name;
    fd = CreateNamed(*target, ".spool", 0600, name);
    if (fd >= 0) {
        unlinkat(target->dir_fd, name.c_str(), 0);
    }
    Release(hold);
    return fd;
}

int hkCreateTemporary(hkTarget *target, bool private_mode) {
    int mode = private_mode ? 0600 : 0666;
    int fd = CreateUnnamed(*target, mode);
    if (fd >= 0 && CanBeLinked(fd)) {
        target->temp_fd = fd;
        target->temp_unnamed = true;
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    Hold(target->hold);
    fd = CreateNamed(*target, ".tmp", mode, target->temp_name);
    if (fd < 0) {
        Release(target->hold);
        return -1;
    }
    target->temp_fd = fd;
    target->temp_unnamed = false;
    return fd;
}

bool hkTemporaryInterrupted(const hkTarget *target) {
    return HeldSignalPending(target->hold);
}

bool hkFinishTemporary(hkTarget *target, const hkFileStamp *like) {
    int fd = target->temp_fd;
    if (like->exists) {
        // The owner first, which may clear the set-id bits, then the mode.
        struct stat own {};
        if (fstat(fd, &own) == 0 && (own.st_uid != like->owner || own.st_gid != like->group) &&
            fchown(fd, like->owner, like->group) != 0) {
            // Not the owner's to give: the group, where it may be given.
            if (fchown(fd, static_cast<uid_t>(-1), like->group) != 0) {
                errno = 0;
            }
        }
        if (fchmod(fd, static_cast<mode_t>(like->mode)) != 0) {
            return false;
        }
    }
    return fsync(fd) == 0;
}

bool hkPlaceTemporary(hkTarget *target, bool replace) {
    bool placed =
        target->temp_unnamed ? PlaceUnnamed(*target, replace) : PlaceNamed(*target, replace);
    if (!placed) {
        int error = errno;
        hkDiscardTemporary(target);
        errno = error;
        return false;
    }
    if (!target->temp_unnamed) {
        target->temp_name.clear(); // it is the target's name now
        Release(target->hold);
    }
    CloseTemporary(*target);
    if (target->dir_readable) {
        // The new name lasts only once the directory is on the disk; a
        // failure here can't undo the rename, and the file's bytes are
        // already there.
        fsync(target->dir_fd);
    }
    return true;
}

void hkDiscardTemporary(hkTarget *target) {
    if (target->temp_fd < 0) {
        return;
    }
    if (!target->temp_name.empty()) {
        unlinkat(target->dir_fd, target->temp_name.c_str(), 0);
    }
    CloseTemporary(*target);
    Release(target->hold);
}

bool hkDescriptorStamp(int fd, hkFileStamp *stamp) {
    struct stat st {};
    *stamp = hkFileStamp{};
    return fstat(fd, &st) == 0 && StampOf(st, stamp);
}

bool hkSameStamp(const hkFileStamp *a, const hkFileStamp *b) {
    if (!a->exists || !b->exists) {
        return a->exists == b->exists;
    }
    return a->volume == b->volume && a->file == b->file && a->size == b->size &&
           a->modified == b->modified;
}

bool hkTargetPlace(const hkTarget *target, hkFilePlace *place) {
    struct stat st {};
    *place = hkFilePlace{};
    if (target->name.size() >= sizeof place->name || fstat(target->dir_fd, &st) != 0) {
        return false;
    }
    place->volume = static_cast<uint64_t>(st.st_dev);
    place->directory = static_cast<uint64_t>(st.st_ino);
    std::memcpy(place->name, target->name.c_str(), target->name.size() + 1);
    return true;
}

bool hkSamePlace(const hkFilePlace *a, const hkFilePlace *b) {
    return a->volume == b->volume && a->directory == b->directory &&
           std::strcmp(a->name, b->name) == 0;
}

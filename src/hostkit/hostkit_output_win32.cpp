// Host services for Windows: output below directory handles, and the
// reading of a tree below them.
//
// The narrow Win32 functions create nothing relative to a handle, so names
// are joined into paths here; what keeps those paths honest:
//  - every level below the base is opened with FILE_FLAG_OPEN_REPARSE_POINT
//    (the reparse point itself, never its target) and refused when it is a
//    reparse point (symbolic link, junction, mount point) or no directory;
//  - each level stays open, without FILE_SHARE_DELETE, for as long as its
//    handle lives, so that no level can be renamed, removed or replaced by a
//    link while paths through it are in use;
//  - files are created with CREATE_NEW, which never opens what already has
//    the name.
// Under Wine the file system is the Unix one, and a Unix symbolic link is no
// reparse point to a handle: opened, a directory link is its target, and a
// file link passes for a plain file that takes its target with it when it is
// removed. Its attributes by path still show the reparse point of a directory
// link, so every level is checked by path as well as by handle; and no
// existing name is ever removed there (hkCanReplaceNames).
// The residual race: a level is created by path and only then opened and
// checked, so a link put there in between is found and refused, not
// followed; but the base itself (the working directory, or the directory the
// user named) is reached by its path on every call, as it always was, and a
// process with backup privileges or the volume's administrator can still
// change what a held path names. POSIX systems have no such window: there
// every call is relative to an open directory (hostkit_output_posix.cpp).
#include "hostkit.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <new>
#include <string>
#include <vector>
#include <windows.h>

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct hkDirectory {
    std::string path;         // "." for the working directory
    std::vector<HANDLE> held; // every level opened below the base
};

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string PathOf(const hkDirectory *dir) {
    return dir != nullptr ? dir->path : std::string(".");
}

std::string Join(const std::string &dir, const char *name) {
    if (!dir.empty() && IsSeparator(dir.back())) {
        return dir + name;
    }
    return dir + "\\" + name;
}

// The object itself, never what a reparse point leads to. No sharing of
// deletion: while the handle is open, the object keeps its name.
HANDLE OpenNoFollow(const std::string &path) {
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RunsUnderWine() {
    // Wine's ntdll exports its version; Windows' own does not.
    static const bool under_wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return under_wine;
}

void CloseAll(hkDirectory *dir) {
    for (HANDLE handle : dir->held) {
        CloseHandle(handle);
    }
    dir->held.clear();
}

// Opens, or creates and opens, one level below `dir`, and checks it.
bool OpenLevel(hkDirectory *dir, const char *name, int *why) {
    std::string path = Join(dir->path, name);
    HANDLE handle = OpenNoFollow(path);
    if (handle == INVALID_HANDLE_VALUE && IsMissing(GetLastError())) {
        if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            *why = HK_BELOW_FAILED;
            return false;
        }
        handle = OpenNoFollow(path);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *why = HK_BELOW_FAILED;
        return false;
    }
    // By path too, once the level is held: under Wine only the path shows a
    // directory link for what it is.
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    DWORD by_path = known ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (by_path == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        *why = HK_BELOW_FAILED;
        return false;
    }
    DWORD attributes = info.dwFileAttributes | (by_path & FILE_ATTRIBUTE_REPARSE_POINT);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        *why = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? HK_BELOW_LINK
                                                                : HK_BELOW_NOT_DIRECTORY;
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    dir->held.push_back(handle);
    dir->path = path;
    return true;
}

hkFileId IdentityOf(const BY_HANDLE_FILE_INFORMATION &info) {
    return hkFileId{info.dwVolumeSerialNumber,
                    (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0};
}

} // namespace

hkDirectory *hkOpenDirectory(const char *path) {
    // The user's own directory: links in its path are followed.
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return nullptr;
    }
    auto *dir = new (std::nothrow) hkDirectory;
    if (dir == nullptr) {
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    dir->path = path;
    dir->held.push_back(handle);
    return dir;
}

hkDirectory *hkOpenBelow(hkDirectory *base, const char *relative, int *why) {
    auto *dir = new (std::nothrow) hkDirectory;
    if (dir == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        *why = HK_BELOW_FAILED;
        return nullptr;
    }
    dir->path = PathOf(base);
    std::string name;
    for (const char *p = relative;; ++p) {
        if (*p != '\0' && !IsSeparator(*p)) {
            name += *p;
            continue;
        }
        bool ok = true;
        if (name == "..") {
            SetLastError(ERROR_INVALID_NAME);
            *why = HK_BELOW_FAILED;
            ok = false;
        } else if (!name.empty() && name != ".") {
            ok = OpenLevel(dir, name.c_str(), why);
        }
        if (!ok) {
            DWORD error = GetLastError();
            hkCloseDirectory(dir);
            SetLastError(error);
            return nullptr;
        }
        name.clear();
        if (*p == '\0') {
            break;
        }
    }
    return dir;
}

void hkCloseDirectory(hkDirectory *dir) {
    if (dir != nullptr) {
        CloseAll(dir);
        delete dir;
    }
}

int hkCreateFile(hkDirectory *dir, const char *name, int *fd) {
    std::string path = Join(PathOf(dir), name);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            return HK_CREATE_EXISTS;
        }
        // A directory of that name may also answer "access denied".
        if (error == ERROR_ACCESS_DENIED &&
            GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            SetLastError(error);
            return HK_CREATE_EXISTS;
        }
        SetLastError(error);
        return HK_CREATE_FAILED;
    }
    *fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (*fd < 0) {
        CloseHandle(handle);
        DeleteFileA(path.c_str());
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return HK_CREATE_FAILED;
    }
    return HK_CREATE_DONE;
}

bool hkCloseFile(int fd) {
    return _close(fd) == 0;
}

bool hkEmptyFile(int fd) {
    return _chsize(fd, 0) == 0;
}

bool hkRemoveBelow(hkDirectory *dir, const char *name) {
    std::string path = Join(PathOf(dir), name);
    DWORD attributes = GetFileAttributesA(path.c_str());
    // A directory link or junction is removed as a directory; its target
    // stays untouched. A real directory is never removed.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        return RemoveDirectoryA(path.c_str()) != 0;
    }
    return DeleteFileA(path.c_str()) != 0;
}

bool hkCanReplaceNames(void) {
    return !RunsUnderWine();
}

bool hkIdentityBelow(hkDirectory *dir, const char *name, hkFileId *id) {
    HANDLE handle = OpenNoFollow(Join(PathOf(dir), name));
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (known) {
        *id = IdentityOf(info);
    }
    return known;
}

bool hkDescriptorIdentity(int fd, hkFileId *id) {
    // The C runtime hands out its handles as integers.
    auto *handle =
        reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    *id = IdentityOf(info);
    return true;
}

hkDirectory *hkFindBelow(hkDirectory *base, const char *relative, int *why) {
    // Every level must be there already, so that hkOpenBelow, which checks
    // each one, creates none (a level removed meanwhile would be made again).
    std::string path = PathOf(base);
    std::string name;
    for (const char *p = relative;; ++p) {
        if (*p != '\0' && !IsSeparator(*p)) {
            name += *p;
            continue;
        }
        if (!name.empty() && name != "." && name != "..") {
            path = Join(path, name.c_str());
            if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
                *why = HK_BELOW_FAILED;
                return nullptr;
            }
        }
        name.clear();
        if (*p == '\0') {
            break;
        }
    }
    return hkOpenBelow(base, relative, why);
}

int hkDirectoryFd(const hkDirectory * /*dir*/) {
    return -1;
}

struct hkListing {
    HANDLE find;
    WIN32_FIND_DATAA found;
    bool pending; // `found` holds a name not yet handed out
};

hkListing *hkListDirectory(hkDirectory *dir) {
    auto *listing = new (std::nothrow) hkListing;
    if (listing == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    listing->find = FindFirstFileA(Join(PathOf(dir), "*").c_str(), &listing->found);
    listing->pending = listing->find != INVALID_HANDLE_VALUE;
    if (!listing->pending && GetLastError() != ERROR_FILE_NOT_FOUND) {
        DWORD error = GetLastError();
        delete listing;
        SetLastError(error);
        return nullptr;
    }
    return listing;
}

int hkNextName(hkListing *listing, const char **name, int *kind) {
    for (;;) {
        if (!listing->pending) {
            if (listing->find == INVALID_HANDLE_VALUE ||
                !FindNextFileA(listing->find, &listing->found)) {
                bool end =
                    listing->find == INVALID_HANDLE_VALUE || GetLastError() == ERROR_NO_MORE_FILES;
                return end ? 0 : -1;
            }
        }
        listing->pending = false;
        const char *found = listing->found.cFileName;
        if (std::strcmp(found, ".") == 0 || std::strcmp(found, "..") == 0) {
            continue;
        }
        DWORD attributes = listing->found.dwFileAttributes;
        *name = found;
        *kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? HK_KIND_LINK
                : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? HK_KIND_DIRECTORY
                : (attributes & FILE_ATTRIBUTE_DEVICE) != 0      ? HK_KIND_OTHER
                                                                 : HK_KIND_FILE;
        return 1;
    }
}

void hkCloseListing(hkListing *listing) {
    if (listing != nullptr) {
        if (listing->find != INVALID_HANDLE_VALUE) {
            FindClose(listing->find);
        }
        delete listing;
    }
}

int hkOpenFileBelow(hkDirectory *dir, const char *name, int *fd) {
    // The reparse point itself is opened, never its target, and looked at
    // by handle and, for Wine, by path as well; a directory opens too
    // (backup semantics), to be told apart and refused.
    std::string path = Join(PathOf(dir), name);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return HK_OPEN_FAILED;
    }
    BY_HANDLE_FILE_INFORMATION info;
    DWORD by_path = GetFileAttributesA(path.c_str());
    if (!GetFileInformationByHandle(handle, &info) || by_path == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        return HK_OPEN_FAILED;
    }
    DWORD attributes = info.dwFileAttributes | (by_path & FILE_ATTRIBUTE_REPARSE_POINT);
    int refused =
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? HK_OPEN_LINK
        : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || GetFileType(handle) != FILE_TYPE_DISK
            ? HK_OPEN_NOT_FILE
            : HK_OPEN_DONE;
    if (refused != HK_OPEN_DONE) {
        CloseHandle(handle);
        return refused;
    }
    *fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (*fd < 0) {
        CloseHandle(handle);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return HK_OPEN_FAILED;
    }
    return HK_OPEN_DONE;
}

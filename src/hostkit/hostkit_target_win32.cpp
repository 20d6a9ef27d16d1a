// Host services for Windows: replacing a file at once.
//
// The new file is written under a hidden name in the target's directory
// (".<name>.<8 hex digits>.tmp"), flushed, closed, and moved over the target
// with MoveFileEx, which replaces the name in one step on the same volume.
// Windows has no file without a name: a process ended meanwhile leaves the
// temporary behind. Links are not followed: the name itself is replaced.
#include "hostkit.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <new>
#include <string>
#include <windows.h>

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct hkTarget {
    std::string dir;  // with its separator at the end, or empty
    std::string path; // dir + name
    std::string name;
    int temp_fd;
    std::string temp_path;
};

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
}

bool StampOf(HANDLE handle, hkFileStamp *stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    stamp->exists = true;
    stamp->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    stamp->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp->modified = static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                           info.ftLastWriteTime.dwLowDateTime);
    return true;
}

uint32_t RandomWord() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 16) ^
           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&now));
}

std::string HiddenName(const hkTarget &target, const char *suffix, int attempt) {
    char tail[32];
    std::snprintf(tail, sizeof tail, ".%08x%s",
                  static_cast<unsigned>(RandomWord() + static_cast<uint32_t>(attempt)), suffix);
    return target.dir + "." + target.name.substr(0, 200) + tail;
}

// Creates a new file under a fresh hidden name, open for reading and
// writing; -1 with the system's error.
int CreateHidden(const hkTarget &target, const char *suffix, DWORD flags, std::string &path) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        path = HiddenName(target, suffix, attempt);
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return -1;
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            CloseHandle(handle);
            DeleteFileA(path.c_str());
            SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        }
        return fd;
    }
    return -1;
}

} // namespace

hkTarget *hkOpenTarget(const char *path) {
    std::string whole = path;
    if (whole.empty() || IsSeparator(whole.back())) {
        SetLastError(ERROR_DIRECTORY);
        return nullptr;
    }
    size_t cut = whole.size();
    while (cut > 0 && !IsSeparator(whole[cut - 1]) && whole[cut - 1] != ':') {
        --cut;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_DIRECTORY);
        return nullptr;
    }
    std::string dir = whole.substr(0, cut);
    DWORD dir_attributes = GetFileAttributesA(dir.empty() ? "." : dir.c_str());
    if (dir_attributes == INVALID_FILE_ATTRIBUTES ||
        (dir_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(dir_attributes == INVALID_FILE_ATTRIBUTES ? ERROR_PATH_NOT_FOUND
                                                               : ERROR_DIRECTORY);
        return nullptr;
    }
    hkTarget *target = new (std::nothrow) hkTarget();
    if (target == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    target->dir = dir;
    target->name = whole.substr(cut);
    target->path = whole;
    target->temp_fd = -1;
    return target;
}

void hkCloseTarget(hkTarget *target) {
    if (target != nullptr) {
        hkDiscardTemporary(target);
        delete target;
    }
}

bool hkTargetStamp(const hkTarget *target, hkFileStamp *stamp) {
    *stamp = hkFileStamp{};
    HANDLE handle = CreateFileA(target->path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    bool known = StampOf(handle, stamp);
    CloseHandle(handle);
    return known;
}

int hkCreateSpool(hkTarget *target) {
    std::string path;
    return CreateHidden(
        *target, ".spool",
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, path);
}

int hkCreateTemporary(hkTarget *target, bool /*private_mode*/) {
    target->temp_fd = CreateHidden(*target, ".tmp", FILE_ATTRIBUTE_NORMAL, target->temp_path);
    return target->temp_fd;
}

bool hkTemporaryInterrupted(const hkTarget * /*target*/) {
    return false;
}

bool hkFinishTemporary(hkTarget *target, const hkFileStamp * /*like*/) {
    return FlushFileBuffers(HandleOf(target->temp_fd)) != 0;
}

bool hkPlaceTemporary(hkTarget *target, bool replace) {
    // The temporary's own handle would stand in the way of the move.
    _close(target->temp_fd);
    target->temp_fd = -1;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(target->temp_path.c_str(), target->path.c_str(), flags)) {
        target->temp_path.clear();
        return true;
    }
    DWORD error = GetLastError();
    DeleteFileA(target->temp_path.c_str());
    target->temp_path.clear();
    if (error == ERROR_ALREADY_EXISTS) {
        error = ERROR_FILE_EXISTS;
    }
    SetLastError(error);
    return false;
}

void hkDiscardTemporary(hkTarget *target) {
    if (target->temp_fd >= 0) {
        _close(target->temp_fd);
        target->temp_fd = -1;
    }
    if (!target->temp_path.empty()) {
        DeleteFileA(target->temp_path.c_str());
        target->temp_path.clear();
    }
}

bool hkDescriptorStamp(int fd, hkFileStamp *stamp) {
    *stamp = hkFileStamp{};
    HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : HandleOf(fd);
    return handle != INVALID_HANDLE_VALUE && StampOf(handle, stamp);
}

bool hkSameStamp(const hkFileStamp *a, const hkFileStamp *b) {
    if (!a->exists || !b->exists) {
        return a->exists == b->exists;
    }
    return a->volume == b->volume && a->file == b->file && a->size == b->size &&
           a->modified == b->modified;
}

bool hkTargetPlace(const hkTarget *target, hkFilePlace *place) {
    *place = hkFilePlace{};
    if (target->name.size() >= sizeof place->name) {
        return false;
    }
    HANDLE dir = CreateFileA(target->dir.empty() ? "." : target->dir.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        return false;
    }
    hkFileStamp stamp{};
    bool known = StampOf(dir, &stamp);
    CloseHandle(dir);
    place->volume = stamp.volume;
    place->directory = stamp.file;
    std::memcpy(place->name, target->name.c_str(), target->name.size() + 1);
    return known;
}

bool hkSamePlace(const hkFilePlace *a, const hkFilePlace *b) {
    return a->volume == b->volume && a->directory == b->directory &&
           std::strcmp(a->name, b->name) == 0;
}

// Host services for Windows: replacing a file at once.
//
// The new file is written under a hidden name in the target's directory
// (".<name>.<8 hex digits>.tmp"), flushed, and renamed over the target in
// one step: by its handle with POSIX semantics (Windows 10 1709 and later),
// which replaces a file that others hold open (with FILE_SHARE_DELETE, as
// libkestrun opens packages) and lets them go on reading it; else by
// MoveFileEx, which a file held open refuses. Windows has no file without a
// name: a process ended meanwhile leaves the temporary behind. Links are not
// followed: the name itself is replaced.
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
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
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

// The rename flags of FILE_RENAME_INFO (winbase.h gives them only to builds
// for Windows 10).
const DWORD kRenameReplaceIfExists = 0x1;
const DWORD kRenamePosixSemantics = 0x2;
// FileRenameInfoEx, the class of such a rename (likewise).
const auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames the open file `handle` to `path`, replacing what has the name even
// while it is open elsewhere; false where the system has no such rename.
bool RenamePosix(HANDLE handle, const std::string &path) {
    wchar_t wide[MAX_PATH * 2];
    wchar_t full[MAX_PATH * 2];
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2);
    DWORD full_length = length > 0 ? GetFullPathNameW(wide, MAX_PATH * 2, full, nullptr) : 0;
    if (full_length == 0 || full_length >= MAX_PATH * 2) {
        return false;
    }
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + full_length * sizeof(wchar_t));
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    DWORD flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    std::memcpy(info, &flags, sizeof flags);
    info->RootDirectory = nullptr;
    info->FileNameLength = full_length * sizeof(wchar_t);
    std::memcpy(info->FileName, full, full_length * sizeof(wchar_t));
    return SetFileInformationByHandle(handle, kRenameInfoEx, info,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

bool Place(hkTarget &target, bool replace) {
    HANDLE handle = HandleOf(target.temp_fd);
    if (replace && RenamePosix(handle, target.path)) {
        return true;
    }
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(target.temp_path.c_str(), target.path.c_str(), flags) != 0;
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
    // The temporary's own handle shares deletion, so it may stay open while
    // its name moves.
    bool placed = Place(*target, replace);
    DWORD error = GetLastError();
    _close(target->temp_fd);
    target->temp_fd = -1;
    if (placed) {
        target->temp_path.clear();
        return true;
    }
    DeleteFileA(target->temp_path.c_str());
    target->temp_path.clear();
    SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error);
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

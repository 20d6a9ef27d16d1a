#include "writer.h"

#include "../hostkit/hostkit.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../run_mode.h"
#include "../types.h"
#include "entry_data.h"
#include "output_budget.h"
#include "package_guard.h"
#include "safe_name.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Formats into a path buffer of RBD_MAX_PATH + 1 bytes; false when the result
// would not fit, in which case the buffer must not be used.
bool FormatPath(char *out_path, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(out_path, RBD_MAX_PATH + 1, format, args);
    va_end(args);
    return length >= 0 && static_cast<size_t>(length) <= RBD_MAX_PATH;
}

// The directory that holds the output root: null for the working directory,
// else the one the driver named. Messages show paths relative to it.
hkDirectory *output_base;

// The directory of the last group written to, open, and its group path.
// Entries come group by group, so a group path is resolved once and its
// handle serves all its entries; only one such handle is open at a time.
hkDirectory *group_dir;
char group_path[RBD_MAX_PATH + 1];

void PrintWritingLine(const char *path, const char *filename) {
    if (!run_mode.quiet) {
        std::printf("Writing \"%s/%s%s\"...\n", ShownInMessage(package_name), ShownInMessage(path),
                    ShownInMessage(filename));
    }
}

// The open directory of group path `path` below the output root, made where
// missing; null after printing the warning when it can't be had. Nothing on
// the way from the output base down may be a link: the output root and every
// group directory must be real directories.
hkDirectory *OpenGroup(const char *path) {
    if (group_dir != nullptr && std::strcmp(group_path, path) == 0) {
        return group_dir;
    }
    hkCloseDirectory(group_dir);
    group_dir = nullptr;
    // The directory path is a prefix of the checked file path, so it fits.
    char relative[RBD_MAX_PATH + 1];
    FormatPath(relative, "%s/%s", package_name, path);
    int why = HK_BELOW_FAILED;
    hkDirectory *dir = hkOpenBelow(output_base, relative, &why);
    if (dir == nullptr) {
        if (why == HK_BELOW_LINK) {
            RBD_Warning("WARNING: Refusing to extract through a link, \"%s\"!\n",
                        ShownInMessage(path));
        } else {
            RBD_Warning("WARNING: Failed to create path, \"%s\"!\n", ShownInMessage(path));
        }
        return nullptr;
    }
    group_dir = dir;
    std::strcpy(group_path, path);
    return dir;
}

// Creates the entry's file in `dir`, replacing whatever non-directory has its
// name (the name only: a link is never followed, a hard link's other names
// keep their contents, a special file is never opened). Returns the open
// descriptor, or -1 after printing the warning.
int CreateOutput(hkDirectory *dir, const char *filename, const char *out_path) {
    int fd = -1;
    int created = hkCreateFile(dir, filename, &fd);
    if (created == HK_CREATE_EXISTS) {
        hkFileId id{};
        bool known = hkIdentityBelow(dir, filename, &id);
        if (known && IsGuardedPackage(id)) {
            RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n",
                        ShownInMessage(out_path));
            return -1;
        }
        // A name that vanished meanwhile is simply created.
        if (known && (id.is_directory || !hkRemoveBelow(dir, filename))) {
            created = HK_CREATE_FAILED;
        } else {
            created = hkCreateFile(dir, filename, &fd);
        }
    }
    if (created != HK_CREATE_DONE) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", ShownInMessage(out_path));
        return -1;
    }
    return fd;
}

// Closes an output file; on failure, or when its contents were not all
// written, says so and removes it, so that no truncated entry is left behind.
void FinishOutput(hkDirectory *dir, const char *filename, int fd, const char *out_path,
                  bool written) {
    bool closed = hkCloseFile(fd);
    if (!written || !closed) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", ShownInMessage(out_path));
        hkRemoveBelow(dir, filename);
    }
}

// Moves the entry's bytes from the package into the new output file in one
// call of the entry's full size.
void CopyEntry(hkDirectory *dir, const char *filename, int fd, const char *out_path,
               uint32_t offset, uint32_t size) {
    if (!RBD_DataInPackage(offset, size)) {
        RBD_Warning("WARNING: Failed to read in data!\n");
        FinishOutput(dir, filename, fd, out_path, true);
        return;
    }
    if (!RBD_ChargeOutput(size)) {
        // The entry in hand leaves nothing; those before it stay.
        hkCloseFile(fd);
        hkRemoveBelow(dir, filename);
        RBD_PrintBudgetExceeded();
        RBD_Exit(1);
    }
    RBD_BeforeCopy(size);
    int copied = hkCopyRange(fd, fileno(fp), offset, size);
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us: the entry is left empty, as one whose
        // data was never there.
        RBD_Warning("WARNING: Failed to read in data!\n");
        FinishOutput(dir, filename, fd, out_path, hkEmptyFile(fd));
        return;
    }
    FinishOutput(dir, filename, fd, out_path, copied == HK_COPY_DONE);
}

} // namespace

bool RBD_SetOutputBase(const char *dir) {
    hkDirectory *base = hkOpenDirectory(dir);
    if (base == nullptr) {
        return false;
    }
    RBD_CloseOutput();
    hkCloseDirectory(output_base);
    output_base = base;
    return true;
}

void RBD_CloseOutput(void) {
    hkCloseDirectory(group_dir);
    group_dir = nullptr;
    group_path[0] = '\0';
}

void RBD_RefuseFile(const char *path, const char *filename) {
    PrintWritingLine(path, filename);
    RBD_Warning("WARNING: Refusing unsafe path, \"%s%s\"!\n", ShownInMessage(path),
                ShownInMessage(filename));
}

void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size) {
    if (!IsSafeName(filename)) {
        RBD_RefuseFile(path, filename);
        return;
    }
    PrintWritingLine(path, filename);

    char out_path[RBD_MAX_PATH + 1];
    if (!RBD_FormatOutputPath(out_path, path, filename)) {
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", ShownInMessage(path),
                    ShownInMessage(filename));
        return;
    }
    hkDirectory *dir = OpenGroup(path);
    if (dir == nullptr) {
        return;
    }
    int fd = CreateOutput(dir, filename, out_path);
    if (fd < 0) {
        return;
    }
    CopyEntry(dir, filename, fd, out_path, offset, size);
}

#include "writer.h"

#include "../hostkit/hostkit.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../run_mode.h"
#include "../types.h"
#include "package_guard.h"
#include "safe_name.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>

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

// The directory that holds the output root: the working directory unless the
// driver names another. Messages show paths relative to it.
std::string output_base;

// Where `out_path` lies for the file system.
std::string OnDisk(const char *out_path) {
    return output_base.empty() ? std::string(out_path) : output_base + "/" + out_path;
}

void PrintWritingLine(const char *path, const char *filename) {
    if (!run_mode.quiet) {
        std::printf("Writing \"%s/%s%s\"...\n", ShownInMessage(package_name), ShownInMessage(path),
                    ShownInMessage(filename));
    }
}

// Closes an output file; on failure, or when its contents were not all
// written, says so and removes it, so that no truncated entry is left behind.
void FinishOutput(FILE *fp_out, const char *out_path, bool written) {
    bool closed = std::fclose(fp_out) == 0;
    if (!written || !closed) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", ShownInMessage(out_path));
        std::remove(OnDisk(out_path).c_str());
    }
}

bool EmptyOutput(FILE *fp_out) {
    return std::fflush(fp_out) == 0 && fseeko(fp_out, 0, SEEK_SET) == 0 &&
           ftruncate(fileno(fp_out), 0) == 0;
}

// Moves the entry's bytes from the package into the open output file in one
// call of the entry's full size.
void CopyEntry(FILE *fp_out, const char *out_path, uint32_t offset, uint32_t size) {
    // An empty entry reads nothing, wherever it claims to lie.
    if (size > 0 && static_cast<uint64_t>(offset) + size > package_size) {
        RBD_Warning("WARNING: Failed to read in data!\n");
        FinishOutput(fp_out, out_path, true);
        return;
    }
    RBD_BeforeCopy(size);
    int copied = hkCopyRange(fileno(fp_out), fileno(fp), offset, size);
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us: the entry is left empty, as one whose
        // data was never there.
        RBD_Warning("WARNING: Failed to read in data!\n");
        FinishOutput(fp_out, out_path, EmptyOutput(fp_out));
        return;
    }
    FinishOutput(fp_out, out_path, copied == HK_COPY_DONE);
}

} // namespace

bool RBD_SetOutputBase(const char *dir) {
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) {
        return false;
    }
    output_base = dir;
    return true;
}

const char *RBD_OutputBase() {
    return output_base.empty() ? "." : output_base.c_str();
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
    if (!FormatPath(out_path, "./%s/%s%s", package_name, path, filename)) {
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", ShownInMessage(path),
                    ShownInMessage(filename));
        return;
    }
    // The directory path is a prefix of the file path, so it fits too.
    FormatPath(out_path, "./%s/%s", package_name, path);
    if (!hkCreatePath(OnDisk(out_path).c_str())) {
        RBD_Warning("WARNING: Failed to create path, \"%s\"!\n", ShownInMessage(path));
        return;
    }
    FormatPath(out_path, "./%s/%s%s", package_name, path, filename);
    if (IsGuardedPackage(OnDisk(out_path).c_str())) {
        RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n",
                    ShownInMessage(out_path));
        return;
    }
    FILE *fp_out = std::fopen(OnDisk(out_path).c_str(), "wb");
    if (fp_out == nullptr) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", ShownInMessage(out_path));
        return;
    }
    // The entry goes out in one write: a stream buffer would only add a copy.
    std::setvbuf(fp_out, nullptr, _IONBF, 0);
    CopyEntry(fp_out, out_path, offset, size);
}

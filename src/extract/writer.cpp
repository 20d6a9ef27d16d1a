#include "writer.h"

#include "../hostkit/hostkit.h"
#include "../types.h"
#include "package_guard.h"
#include "safe_name.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>

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

void PrintWritingLine(const char *path, const char *filename) {
    std::printf("Writing \"%s/%s%s\"...\n", package_name, path, filename);
}

// Closes an output file; on failure, or when its contents were not all
// written, says so and removes it, so that no truncated entry is left behind.
void FinishOutput(FILE *fp_out, const char *out_path, bool written) {
    bool closed = std::fclose(fp_out) == 0;
    if (!written || !closed) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", out_path);
        std::remove(out_path);
    }
}

void DiscardOutput(FILE *fp_out, const char *out_path) {
    std::fclose(fp_out);
    std::remove(out_path);
}

// The loader reads the next index record from where the entry's excursion
// began; if that place is lost the walk cannot go on.
void RestorePosition(off_t cur_fpos) {
    if (fseeko(fp, cur_fpos, SEEK_SET) != 0) {
        std::puts("ERROR: Failed to seek in package, aborting!");
        RBD_Exit(1);
    }
    std::clearerr(fp);
}

// Moves the entry's bytes from the package into the open output file with one
// read and one write.
void CopyEntry(FILE *fp_out, const char *out_path, uint32_t offset, uint32_t size) {
    // An empty entry reads nothing, wherever it claims to lie.
    if (size > 0 && static_cast<uint64_t>(offset) + size > package_size) {
        RBD_Warning("WARNING: Failed to read in data!\n");
        FinishOutput(fp_out, out_path, true);
        return;
    }
    void *data = hkAllocate(size);
    if (data == nullptr) {
        RBD_Warning("WARNING: Failed to allocate memory for \"%s\"!\n", out_path);
        DiscardOutput(fp_out, out_path);
        return;
    }
    off_t cur_fpos = ftello(fp);
    if (cur_fpos < 0) {
        hkRelease(data, size);
        DiscardOutput(fp_out, out_path);
        std::puts("ERROR: Failed to seek in package, aborting!");
        RBD_Exit(1);
    }
    if (fseeko(fp, static_cast<off_t>(offset), SEEK_SET) != 0) {
        RBD_Warning("WARNING: Failed to seek in package!\n");
        hkRelease(data, size);
        DiscardOutput(fp_out, out_path);
        RestorePosition(cur_fpos);
        return;
    }
    bool written = true;
    if (std::fread(data, 1, size, fp) == size) {
        written = std::fwrite(data, 1, size, fp_out) == size;
    } else {
        RBD_Warning("WARNING: Failed to read in data!\n");
    }
    hkRelease(data, size);
    RestorePosition(cur_fpos);
    FinishOutput(fp_out, out_path, written);
}

} // namespace

void RBD_RefuseFile(const char *path, const char *filename) {
    PrintWritingLine(path, filename);
    RBD_Warning("WARNING: Refusing unsafe path, \"%s%s\"!\n", path, filename);
}

void RBD_WriteFile(const char *path, const char *filename, uint32_t offset, uint32_t size) {
    if (!IsSafeName(filename)) {
        RBD_RefuseFile(path, filename);
        return;
    }
    PrintWritingLine(path, filename);

    char out_path[RBD_MAX_PATH + 1];
    if (!FormatPath(out_path, "./%s/%s%s", package_name, path, filename)) {
        RBD_Warning("WARNING: Path too long, \"%s%s\"!\n", path, filename);
        return;
    }
    // The directory path is a prefix of the file path, so it fits too.
    FormatPath(out_path, "./%s/%s", package_name, path);
    if (!hkCreatePath(out_path)) {
        RBD_Warning("WARNING: Failed to create path, \"%s\"!\n", path);
        return;
    }
    FormatPath(out_path, "./%s/%s%s", package_name, path, filename);
    if (IsGuardedPackage(out_path)) {
        RBD_Warning("WARNING: Refusing to overwrite the package, \"%s\"!\n", out_path);
        return;
    }
    FILE *fp_out = std::fopen(out_path, "wb");
    if (fp_out == nullptr) {
        RBD_Warning("WARNING: Failed to write to destination, \"%s\"!\n", out_path);
        return;
    }
    // The entry goes out in one write: a stream buffer would only add a copy.
    std::setvbuf(fp_out, nullptr, _IONBF, 0);
    CopyEntry(fp_out, out_path, offset, size);
}

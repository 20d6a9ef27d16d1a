#include "entry_to_stdout.h"

#include "../../extract/entry_data.h"
#include "../../hostkit/hostkit.h"
#include "../loader.h"
#include "../output/messages.h"
#include "../output/progress.h"
#include "../output/shown_text.h"
#include "../output/status_line.h"
#include "../output/streams.h"
#include "writer.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#define fileno _fileno
#endif

namespace {

// Pieces of the copy while the status line is shown, so that it moves within
// a large entry too.
const uint64_t kStatusPiece = uint64_t{64} << 20;

void WarnNoData(const char *path, const char *filename) {
    std::string entry = std::string(path) + filename;
    RBD_Warning("WARNING: Failed to read in data, \"%s\"!\n", ShownInMessage(entry.c_str()));
}

int CopyOut(uint64_t offset, uint64_t size) {
    int out_fd = fileno(RBD_Product());
    if (!status_on) {
        return hkCopyRange(out_fd, package_fd, offset, size);
    }
    while (size > 0) {
        uint64_t now = size < kStatusPiece ? size : kStatusPiece;
        int copied = hkCopyRange(out_fd, package_fd, offset, now);
        if (copied != HK_COPY_DONE) {
            return copied;
        }
        RBD_AdvanceStatus(now);
        offset += now;
        size -= now;
    }
    return HK_COPY_DONE;
}

} // namespace

void RBD_CopyEntryToStdout(const char *path, const char *filename, uint32_t offset, uint32_t size) {
    if (!RBD_DataInPackage(offset, size, package_size)) {
        WarnNoData(path, filename);
        return;
    }
    // Standard output may be a file: the same bound holds as for extraction.
    RBD_ChargeOrStop(size);
    RBD_BeforeCopy(size);
    int copied = CopyOut(offset, size);
    if (copied == HK_COPY_WRITE_FAILED) {
        RBD_FailProduct();
    }
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us; what was copied of the entry is out.
        WarnNoData(path, filename);
    }
}

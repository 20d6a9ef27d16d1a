#include "entry_to_stdout.h"

#include "../../extract/entry_data.h"
#include "../../hostkit/hostkit.h"
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

void WarnNoData(RBDStreams &out, const char *path, const char *filename) {
    std::string entry = std::string(path) + filename;
    RBD_Warning(out, "WARNING: Failed to read in data, \"%s\"!\n", ShownInMessage(entry.c_str()));
}

} // namespace

void RBD_CopyEntryToStdout(RBDRun &run, const char *path, const char *filename, uint32_t offset,
                           uint32_t size) {
    if (!RBD_DataInPackage(offset, size, run.package.size)) {
        WarnNoData(run.out, path, filename);
        return;
    }
    // Standard output may be a file: the same bound holds as for extraction.
    RBD_ChargeOrStop(run, size);
    RBD_BeforeCopy(run.out, size);
    int copied = RBD_CopyInPieces(fileno(RBD_Product()), run.package.fd, offset, size,
                                  RBD_StatusPieces(run.out.status));
    if (copied == HK_COPY_WRITE_FAILED) {
        RBD_FailProduct(run.out);
    }
    if (copied == HK_COPY_SHORT_READ) {
        // The package shrank under us; what was copied of the entry is out.
        WarnNoData(run.out, path, filename);
    }
}

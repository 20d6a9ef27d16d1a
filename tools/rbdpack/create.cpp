#include "create.h"

#include "../../src/package/root_name.h"
#include "../../src/packwriter/rbd_writer.h"
#include "../../src/types.h"
#include "messages.h"
#include "scan_tree.h"
#include "temporary.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Whatever would stop the package from being written stops the run before
// anything else: a directory in its place (which the finished package could
// not replace), or no directory to put it in.
void CheckOutputPlace(const fs::path &output) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(output, ec))) {
        Fail("ERROR: Output is a directory, \"" + output.string() + "\", aborting!");
    }
    fs::path parent = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    fs::file_status status = fs::status(parent, ec);
    if (ec || !fs::is_directory(status)) {
        std::string reason = ec ? ec.message() : std::strerror(ENOTDIR);
        Fail("ERROR: No directory to write \"" + output.string() + "\" in: " + reason +
             ", aborting!");
    }
}

// Opens the temporary file the package goes to before the tree is read, so
// that a directory that takes no new file stops the run at once too.
FILE *OpenTemporary(const fs::path &output, fs::path &temporary) {
    FILE *out = CreateTemporary(output, temporary);
    if (out == nullptr) {
        Fail("ERROR: Failed to create a file next to \"" + output.string() + "\"" + Reason(errno) +
             ", aborting!");
    }
    return out;
}

// The package goes to a temporary file next to `output` first, so that the
// finished package can be renamed into place and no half-written one is ever
// seen under the real name.
void WritePackage(const PackLayout &layout, FILE *out, const fs::path &temporary,
                  const fs::path &output, const std::string &dir) {
    std::string failed_source;
    int error = 0;
    bool written = StreamPackage(layout, out, failed_source, &error);
    if (std::fclose(out) != 0 && written) {
        written = false;
        error = errno;
    }
    std::error_code ec;
    if (written && CommitTemporary(temporary, output, ec)) {
        return;
    }
    DiscardTemporary(temporary);
    if (ec) {
        Fail("ERROR: Failed to write \"" + output.string() + "\": " + ec.message() + ", aborting!");
    }
    if (failed_source.empty()) {
        Fail("ERROR: Failed to write \"" + output.string() + "\"" + Reason(error) + ", aborting!");
    }
    std::string text =
        error == 0 ? "Failed to read \"" + failed_source + "\" whole (did it change while packing?)"
                   : "Failed to read \"" + failed_source + "\"" + Reason(error);
    PrintRefusals({TreeRefusal{text, PathInTree(dir, failed_source)}}, "To pack the rest");
    std::exit(1);
}

// kestrun names the output root after the package's file name less its last
// four characters, which it takes for an extension such as ".rbd". Any other
// name still packs, but extracts somewhere the user would hardly guess.
void WarnOfOutputRoot(const std::string &filename, const char *root_name) {
    if (filename[filename.size() - 4] == '.') {
        return;
    }
    std::string root = root_name[0] == '\0' ? std::string("the working directory itself")
                                            : "\"" + std::string(root_name) + "/\"";
    std::fprintf(stderr,
                 "WARNING: No four-character extension such as \".rbd\" in \"%s\": kestrun "
                 "will extract it into %s!\n",
                 filename.c_str(), root.c_str());
}

} // namespace

int RunCreate(const PackArguments &arguments) {
    const std::string dir = arguments.operands[0];
    const fs::path output = arguments.operands[1];
    CheckOutputPlace(output);

    // kestrun names the output root after the package file in the same way.
    const std::string filename = output.filename().string();
    char root_name[RBD_MAX_PACKAGE_NAME + 1];
    if (!RBD_RootNameOf(filename.c_str(), root_name)) {
        Fail("ERROR: Invalid package name \"" + filename + "\", aborting!");
    }
    WarnOfOutputRoot(filename, root_name);
    CheckTreeFor(dir, output.string(), "packs");
    fs::path temporary;
    FILE *out = OpenTemporary(output, temporary);

    ScanOptions options;
    options.root_name = root_name;
    options.excludes = arguments.excludes;
    options.dereference = arguments.dereference;
    TreeScan scan = ScanTree(dir, options);
    for (const std::string &warning : scan.warnings) {
        std::fprintf(stderr, "%s\n", warning.c_str());
    }
    if (!scan.refusals.empty()) {
        std::fclose(out);
        DiscardTemporary(temporary);
        PrintRefusals(scan.refusals, "To pack the rest");
        return 1;
    }
    WritePackage(scan.layout, out, temporary, output, dir);
    std::printf("Packed %zu file%s into \"%s\".\n", scan.files.size(),
                scan.files.size() == 1 ? "" : "s", output.string().c_str());
    return 0;
}

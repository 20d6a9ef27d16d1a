// rbdpack: writes an RBD package from a directory tree, such that kestrun
// extracts the same tree again.
#include "../../src/package_name.h"
#include "../../src/packwriter/rbd_writer.h"
#include "../../src/types.h"
#include "scan_tree.h"
#include "temporary.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char usage[] = "Usage: rbdpack DIR OUTPUT.rbd\n"
                     "Writes the files under DIR into the RBD package OUTPUT.rbd; kestrun\n"
                     "extracts them again into a directory named after the package.\n";

[[noreturn]] void Fail(const std::string &line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    std::exit(1);
}

bool IsInside(const fs::path &path, const fs::path &dir) {
    std::error_code ec;
    fs::path inner = fs::weakly_canonical(path, ec);
    fs::path outer = fs::canonical(dir, ec);
    if (ec) {
        return false;
    }
    auto mismatch = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return mismatch.first == outer.end();
}

// ": <the system's text for errno `error`>", or nothing when there is none.
std::string Reason(int error) {
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

// The package goes to a temporary file next to `output` first, so that the
// finished package can be renamed into place and no half-written one is ever
// seen under the real name.
void WritePackage(const PackLayout &layout, const fs::path &output) {
    fs::path temporary;
    FILE *out = CreateTemporary(output, temporary);
    if (out == nullptr) {
        Fail("ERROR: Failed to create a file next to \"" + output.string() + "\"" + Reason(errno) +
             ", aborting!");
    }
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
    if (error == 0) {
        Fail("ERROR: Failed to read \"" + failed_source +
             "\" whole (did it change while packing?), aborting!");
    }
    Fail("ERROR: Failed to read \"" + failed_source + "\"" + Reason(error) + ", aborting!");
}

// kestrun names the output root after the package's file name less its last
// four characters, which it takes for an extension such as ".rbd". Any other
// name still packs, but extracts somewhere the user would hardly guess.
void WarnOfOutputRoot(const std::string &filename) {
    if (filename[filename.size() - 4] == '.') {
        return;
    }
    std::string root = package_name[0] == '\0' ? std::string("the working directory itself")
                                               : "\"" + std::string(package_name) + "/\"";
    std::printf("WARNING: No four-character extension such as \".rbd\" in \"%s\": kestrun "
                "will extract it into %s!\n",
                filename.c_str(), root.c_str());
}

bool AsksForHelp(const char *argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 1 || (argc == 2 && AsksForHelp(argv[1]))) {
        std::printf("%s", usage);
        return 0;
    }
    if (argc != 3) {
        std::printf("%s", usage);
        return 1;
    }
    const std::string dir = argv[1];
    const fs::path output = argv[2];

    // kestrun names the output root after the package file in the same way.
    const std::string filename = output.filename().string();
    if (!SetPackageName(filename.c_str())) {
        Fail("ERROR: Invalid package name \"" + filename + "\", aborting!");
    }
    WarnOfOutputRoot(filename);
    std::error_code ec;
    bool is_directory = fs::is_directory(dir, ec);
    if (ec) {
        Fail("ERROR: Failed to read \"" + dir + "\": " + ec.message() + ", aborting!");
    }
    if (!is_directory) {
        Fail("ERROR: Not a directory, \"" + dir + "\", aborting!");
    }
    // Otherwise an earlier package could end up packed into the new one.
    if (IsInside(output, dir)) {
        Fail("ERROR: Package inside the tree it packs, \"" + output.string() + "\", aborting!");
    }

    TreeScan scan = ScanTree(dir, package_name);
    for (const std::string &warning : scan.warnings) {
        std::printf("%s\n", warning.c_str());
    }
    if (!scan.error.empty()) {
        Fail(scan.error);
    }
    WritePackage(scan.layout, output);
    std::printf("Packed %zu file%s into \"%s\".\n", scan.file_count,
                scan.file_count == 1 ? "" : "s", output.string().c_str());
    return 0;
}

// rbdpack: writes an RBD package from a directory tree, such that kestrun
// extracts the same tree again.
#include "../../src/package_name.h"
#include "../../src/packwriter/rbd_writer.h"
#include "../../src/types.h"
#include "scan_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
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

// A new file next to `output`, so that the finished package can be renamed
// into place and no half-written one is ever seen under the real name.
FILE *CreateTemporary(const fs::path &output, fs::path &temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        temporary = output.parent_path() / ("." + output.filename().string() + suffix);
        // "x": never take over a file that is already there.
        FILE *out = std::fopen(temporary.string().c_str(), "wbx");
        if (out != nullptr) {
            return out;
        }
    }
    return nullptr;
}

void WritePackage(const PackLayout &layout, const fs::path &output) {
    fs::path temporary;
    FILE *out = CreateTemporary(output, temporary);
    if (out == nullptr) {
        Fail("ERROR: Failed to create a file next to \"" + output.string() + "\", aborting!");
    }
    std::string failed_source;
    bool written = StreamPackage(layout, out, failed_source);
    bool closed = std::fclose(out) == 0;
    std::error_code ec;
    if (written && closed) {
        fs::rename(temporary, output, ec);
    }
    if (!written || !closed || ec) {
        fs::remove(temporary, ec);
        if (!failed_source.empty()) {
            Fail("ERROR: Failed to read \"" + failed_source +
                 "\" whole (did it change while packing?), aborting!");
        }
        Fail("ERROR: Failed to write \"" + output.string() + "\", aborting!");
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 1) {
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
    if (!SetPackageName(output.filename().string().c_str())) {
        Fail("ERROR: Invalid package name \"" + output.filename().string() + "\", aborting!");
    }
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
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

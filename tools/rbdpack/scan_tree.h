// Turns a directory tree into the index of an RBD package whose entries are
// read from the tree's files, refusing whatever kestrun could not give back.
#pragma once

#include "../../src/packwriter/rbd_writer.h"

#include <cstdint>
#include <string>
#include <vector>

// Something under DIR that no package can hold: `text` says what and where,
// as in "Unsafe name, \"tree/a\\b\"" or "Failed to read \"tree/a\": Permission
// denied"; `relative` is its path under DIR when leaving it out would let the
// rest go in, else empty.
struct TreeRefusal {
    std::string text;
    std::string relative;
};

// A file of the tree, in the order rbdpack writes them.
struct TreeFile {
    std::string path;   // under DIR, "/" between names: its path in the package
    std::string source; // the file's path as it is opened
    uint64_t size = 0;  // 0 unless measured
};

struct TreeScan {
    PackLayout layout;                 // records in depth-first pre-order
    std::vector<TreeFile> files;       // the file records' files, in the same order
    std::vector<std::string> warnings; // lines for what was left out
    std::vector<TreeRefusal> refusals; // every one met; none when the tree can go in
};

struct ScanOptions {
    // The output root that kestrun will derive from the package's file
    // name; it bounds the length of the extracted paths.
    std::string root_name;
    std::vector<std::string> excludes; // see exclude.h
    bool dereference = false;          // follow symbolic links, as tar -h does
    // Files are measured as they are found (and refused at 4 GiB); without,
    // their size is left 0, for a caller that opens them anyway.
    bool measure = true;
    // The tree is the whole package: one without a file is refused, and so
    // is data that would start past the records' 32-bit offsets.
    bool whole_package = true;
};

// Walks `dir` with every directory's entries in byte order of their names.
// Each subdirectory that holds files (at any depth) becomes a directory group
// when it has subdirectories of its own, followed by a file group of the same
// name when it holds files itself, so the index always ends on a file record.
// Files and directories whose path under `dir` matches one of the excludes
// are left out without a word. The walk goes on past what it refuses, so that
// every refusal is known at once.
TreeScan ScanTree(const std::string &dir, const ScanOptions &options);

// The path under `dir` of `source`, a file path that ScanTree put into the
// layout; empty when it is not one.
std::string PathInTree(const std::string &dir, const std::string &source);

// True when `path` (which need not exist) lies in the directory `dir`, links
// followed: a package there would be read as part of the tree.
bool IsInsideTree(const std::string &path, const std::string &dir);

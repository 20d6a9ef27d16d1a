// Turns a directory tree into the index of an RBD package whose entries are
// read from the tree's files, refusing whatever kestrun could not give back.
#pragma once

#include "../../src/packwriter/rbd_writer.h"

#include <string>
#include <vector>

struct TreeScan {
    PackLayout layout;                 // records in depth-first pre-order
    std::vector<std::string> warnings; // lines for what was left out
    std::string error;                 // why the tree was refused; empty if not
    // The path under DIR of the file or directory refused, when leaving it
    // out would let the rest be packed; empty if not.
    std::string refused_path;
    size_t file_count = 0;
};

// Walks `dir` with every directory's entries in byte order of their names.
// Each subdirectory that holds files (at any depth) becomes a directory group
// when it has subdirectories of its own, followed by a file group of the same
// name when it holds files itself, so the index always ends on a file record.
// `root_name` is the output root that kestrun will derive from the
// package's file name; it bounds the length of the extracted paths. Files and
// directories whose path under `dir` matches one of `excludes` (see
// exclude.h) are left out without a word.
TreeScan ScanTree(const std::string &dir, const std::string &root_name,
                  const std::vector<std::string> &excludes);

// The path under `dir` of `source`, a file path that ScanTree put into the
// layout; empty when it is not one.
std::string PathInTree(const std::string &dir, const std::string &source);

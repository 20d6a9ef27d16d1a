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
    size_t file_count = 0;
};

// Walks `dir` with every directory's entries in byte order of their names.
// Each subdirectory that holds files (at any depth) becomes a directory group
// when it has subdirectories of its own, followed by a file group of the same
// name when it holds files itself, so the index always ends on a file record.
// `root_name` is the output root that kestrun will derive from the
// package's file name; it bounds the length of the extracted paths.
TreeScan ScanTree(const std::string &dir, const std::string &root_name);

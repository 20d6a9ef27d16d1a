// Helpers of the writer's tests: packages and writers that close
// themselves, a package's entries as path and bytes, and a child process
// to run what may end it.
#pragma once

#include "kestrun/kestrun.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

struct PackageCloser {
    void operator()(kr_package *pkg) const {
        kr_close(pkg);
    }
};
using Package = std::unique_ptr<kr_package, PackageCloser>;

struct WriterAborter {
    void operator()(kr_writer *w) const {
        kr_writer_abort(w);
    }
};
using Writer = std::unique_ptr<kr_writer, WriterAborter>;

// kr_open, which must succeed (a failed assertion otherwise).
Package OpenPackage(const std::string &path, unsigned flags = 0);

// kr_writer_begin, which must succeed.
Writer Begin(const kr_package *base, const std::string &path, unsigned flags = 0);

// kr_writer_commit of the writer, which it gives up.
int Commit(Writer &writer);

// Begins at `path` with `base` and commits at once.
int CommitUnchanged(const kr_package *base, const std::string &path);

kr_info Info(const kr_package *pkg);

struct Entry {
    std::string path;
    std::string data;
    bool operator==(const Entry &other) const {
        return path == other.path && data == other.data;
    }
};

// For gtest's messages: the path and the bytes' length.
void PrintTo(const Entry &entry, std::ostream *out);

// Every entry in index order, its bytes read whole.
std::vector<Entry> Entries(const kr_package *pkg);
std::vector<kr_entry> EntryRecords(const kr_package *pkg);

// The names in `dir`, sorted.
std::vector<std::string> Names(const std::string &dir);

// Runs `body` in a child process and gives its exit status (its return
// value), or 128 + the signal that ended it.
int RunInChild(const std::function<int()> &body);

// In a child: writes past `bytes` fail with EFBIG (SIGXFSZ is ignored).
void LimitFileSize(uint64_t bytes);

// In a child: makes O_TMPFILE fail with EOPNOTSUPP, as on a file system
// without it; false when that can't be arranged here.
bool DenyUnnamedFiles();

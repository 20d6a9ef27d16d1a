// One open package, many threads at once: random ranges of random entries
// through kr_read, whole entries through kr_read_to_fd into pipes and files,
// kr_find and kr_extract beside them, every byte checked, while the main
// thread edits the package with a writer, beside it and then over it. The
// tsan preset runs this under ThreadSanitizer, which also sees any shared
// state the calls touch without order. And kr_extract with workers of its
// own, against one thread: the same reports in the same order, the same
// tree, the same stop at the budget.
#include "kestrun/kestrun.h"
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int kThreads = 4;
const int kRounds = 300;
const uint32_t kGroups = 3;
const uint32_t kPerGroup = 40;

// A package of three groups of entries of random bytes, mostly small, every
// fifth up to 300 KiB; each group's last entry repeats its first's name.
PackLayout ManyEntries() {
    std::mt19937 engine(2026); // NOLINT(cert-msc32-c,cert-msc51-cpp): the same package every run
    PackLayout layout;
    for (uint32_t group = 0; group < kGroups; ++group) {
        layout.entries.push_back(FileGroup("g" + std::to_string(group), kPerGroup));
        for (uint32_t i = 0; i < kPerGroup; ++i) {
            size_t size = engine() % (i % 5 == 0 ? 300000 : 9000);
            std::string data(size, '\0');
            for (char &byte : data) {
                byte = static_cast<char>(engine());
            }
            std::string name = "e" + std::to_string(i + 1 == kPerGroup ? 0 : i);
            layout.entries.push_back(FileEntry(name, data));
        }
    }
    return layout;
}

// What one thread found wrong; empty when all held.
struct Findings {
    std::vector<std::string> faults;
    void Add(const std::string &what) {
        if (faults.size() < 10) {
            faults.push_back(what);
        }
    }
};

std::string DrainPipe(int fd) {
    std::string bytes;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

// kr_read_to_fd into a pipe; a second thread drains it, so that any size goes.
std::string CopyThroughPipe(const kr_package *pkg, uint32_t index, int *code) {
    int ends[2];
    if (pipe(ends) != 0) {
        *code = KR_E_IO;
        return "";
    }
    std::string bytes;
    std::thread reader([&bytes, &ends] { bytes = DrainPipe(ends[0]); });
    kr_error err{};
    *code = kr_read_to_fd(pkg, index, ends[1], &err);
    close(ends[1]);
    reader.join();
    close(ends[0]);
    return bytes;
}

// kr_read_to_fd into the thread's own file, after one byte already there.
std::string CopyThroughFile(const kr_package *pkg, uint32_t index, int fd, int *code) {
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0 || write(fd, "<", 1) != 1) {
        *code = KR_E_IO;
        return "";
    }
    kr_error err{};
    *code = kr_read_to_fd(pkg, index, fd, &err);
    off_t end = lseek(fd, 0, SEEK_CUR);
    std::string bytes(static_cast<size_t>(end > 1 ? end - 1 : 0), '\0');
    if (!bytes.empty() && pread(fd, bytes.data(), bytes.size(), 1) != end - 1) {
        *code = KR_E_IO;
    }
    return bytes;
}

void ReadAtRandom(const kr_package *pkg, const std::string &package, int thread,
                  const std::string &scratch, Findings &findings) {
    std::mt19937 engine(static_cast<uint32_t>(thread));
    // Half the threads append: the kernel refuses sendfile to such a file,
    // so their copies take the library's buffer.
    int file =
        open((scratch + "/copy" + std::to_string(thread)).c_str(),
             O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | (thread % 2 != 0 ? O_APPEND : 0), 0600);
    std::vector<char> buffer(80000);
    for (int round = 0; round < kRounds; ++round) {
        auto index = static_cast<uint32_t>(engine() % kr_entry_count(pkg));
        kr_entry entry{};
        if (kr_entry_at(pkg, index, &entry) != KR_OK) {
            findings.Add("kr_entry_at failed");
            continue;
        }
        std::string expected = package.substr(entry.offset, entry.size);
        std::string got;
        int code = KR_OK;
        switch (round % 8) {
        case 6:
            got = CopyThroughPipe(pkg, index, &code);
            break;
        case 7:
            got = CopyThroughFile(pkg, index, file, &code);
            break;
        default: {
            uint64_t offset = engine() % (entry.size + 10);
            size_t length = engine() % buffer.size();
            kr_error err{};
            int64_t read = kr_read(pkg, index, offset, buffer.data(), length, &err);
            code = read < 0 ? static_cast<int>(read) : KR_OK;
            if (read > 0) {
                got.assign(buffer.data(), static_cast<size_t>(read));
            }
            expected = offset >= expected.size() ? "" : expected.substr(offset, length);
            break;
        }
        }
        if (code != KR_OK || got != expected) {
            findings.Add("round " + std::to_string(round) + ", entry " + entry.path + ": code " +
                         std::to_string(code) + ", " + std::to_string(got.size()) + " of " +
                         std::to_string(expected.size()) + " bytes" +
                         (code == KR_OK ? ", not the entry's" : ""));
        }
        uint32_t found = 0;
        uint32_t last_in_group = index / kPerGroup * kPerGroup + kPerGroup - 1;
        bool repeated = std::string(entry.name) == "e0";
        if (kr_find(pkg, entry.path, &found) != KR_OK ||
            found != (repeated ? last_in_group : index)) {
            findings.Add(std::string("kr_find of ") + entry.path);
        }
    }
    close(file);

    // A whole extraction, into a directory of the thread's own.
    std::string out = scratch + "/out" + std::to_string(thread);
    if (kr_extract(pkg, out.c_str(), nullptr, nullptr) != KR_OK) {
        findings.Add("kr_extract failed");
        return;
    }
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry{};
        kr_entry_at(pkg, i, &entry);
        if ((entry.flags & KR_ENTRY_SHADOWED) == 0 &&
            ReadFile(out + "/" + entry.path) != package.substr(entry.offset, entry.size)) {
            findings.Add(std::string("kr_extract wrote other bytes for ") + entry.path);
        }
    }
}

TEST(LibraryThreadsTest, ManyThreadsReadOnePackageAtOnce) {
    TempDir scratch;
    std::string package = BuildPackage(ManyEntries());
    ASSERT_TRUE(WriteBytes(scratch / "pkg.rbd", package));
    kr_package *pkg = nullptr;
    kr_error err{};
    ASSERT_EQ(kr_open((scratch / "pkg.rbd").c_str(), 0, &pkg, &err), KR_OK) << err.message;
    ASSERT_EQ(kr_entry_count(pkg), kGroups * kPerGroup);

    std::vector<Findings> findings(kThreads);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back(ReadAtRandom, pkg, std::cref(package), thread,
                             std::cref(scratch.path()), std::ref(findings[thread]));
    }
    // Meanwhile the package is edited from its open self: twice beside it,
    // then over it. The threads read on the bytes it had.
    for (int round = 0; round < 3; ++round) {
        std::string out =
            round < 2 ? scratch / ("edit" + std::to_string(round) + ".rbd") : scratch / "pkg.rbd";
        kr_writer *w = nullptr;
        EXPECT_EQ(kr_writer_begin(pkg, out.c_str(), 0, &w, &err), KR_OK) << err.message;
        EXPECT_EQ(kr_writer_put(w, "g0/added", "added", 5, &err), KR_OK) << err.message;
        EXPECT_EQ(kr_writer_remove(w, "g1/e3", &err), KR_OK) << err.message;
        EXPECT_EQ(kr_writer_commit(w, &err), KR_OK) << err.message;
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    kr_close(pkg);
    ASSERT_EQ(kr_open((scratch / "pkg.rbd").c_str(), 0, &pkg, &err), KR_OK) << err.message;
    EXPECT_EQ(kr_entry_count(pkg), kGroups * kPerGroup);
    kr_close(pkg);
    for (int thread = 0; thread < kThreads; ++thread) {
        for (const std::string &fault : findings[thread].faults) {
            ADD_FAILURE() << "thread " << thread << ": " << fault;
        }
    }
}

// What one kr_extract told and left.
struct Extracted {
    std::vector<std::string> reports;
    int code;
    std::vector<std::string> tree; // each file with its bytes
};

void NoteReport(void *ctx, const kr_entry *e, int outcome, const kr_error *why) {
    static_cast<std::vector<std::string> *>(ctx)->push_back(
        std::to_string(outcome) + " " + e->path + (why != nullptr ? why->message : ""));
}

Extracted ExtractWith(const kr_package *pkg, const std::string &out, kr_extract_options options) {
    Extracted extracted{};
    options.report = NoteReport;
    options.ctx = &extracted.reports;
    kr_error err{};
    extracted.code = kr_extract(pkg, out.c_str(), &options, &err);
    for (const std::string &path : ListTree(out)) {
        extracted.tree.push_back(path.back() == '/' ? path
                                                    : path + "=" + ReadFile(out + "/" + path));
    }
    return extracted;
}

TEST(LibraryThreadsTest, WorkersWriteWhatOneThreadWrites) {
    TempDir scratch;
    std::string package = BuildPackage(ManyEntries());
    ASSERT_TRUE(WriteBytes(scratch / "pkg.rbd", package));
    kr_package *pkg = nullptr;
    kr_error err{};
    ASSERT_EQ(kr_open((scratch / "pkg.rbd").c_str(), 0, &pkg, &err), KR_OK) << err.message;
    kr_extract_options options{};
    options.struct_size = sizeof options;
    // The whole package, then a budget that stops halfway.
    for (uint64_t budget : {uint64_t{0}, uint64_t{package.size() / 2}}) {
        options.budget = budget;
        options.threads = 1;
        std::string name = "budget" + std::to_string(budget);
        Extracted serial = ExtractWith(pkg, scratch / (name + "-1"), options);
        EXPECT_EQ(serial.code, budget == 0 ? KR_OK : KR_E_BUDGET);
        options.threads = 4;
        Extracted workers = ExtractWith(pkg, scratch / (name + "-4"), options);
        EXPECT_EQ(workers.code, serial.code);
        EXPECT_EQ(workers.reports, serial.reports);
        EXPECT_TRUE(workers.tree == serial.tree) << "trees differ with budget " << budget;
    }
    // A caller built before `threads` passes a record that ends before it:
    // nothing past it is read (AddressSanitizer would see it).
    size_t old_size = offsetof(kr_extract_options, threads);
    auto *old = static_cast<kr_extract_options *>(std::malloc(old_size));
    ASSERT_NE(old, nullptr);
    std::memcpy(old, &options, old_size);
    old->struct_size = old_size;
    old->budget = 0;
    old->report = nullptr;
    EXPECT_EQ(kr_extract(pkg, (scratch / "old").c_str(), old, &err), KR_OK) << err.message;
    std::free(old);
    kr_close(pkg);
}

} // namespace

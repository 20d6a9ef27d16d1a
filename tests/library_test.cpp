// libkestrun against the command line: every package of the fuzz corpus and
// a few made here (duplicates, unsafe names, data past the end, a damaged
// index) is opened plainly and with KR_OPEN_PARTIAL, every entry read with
// kr_read in uneven pieces and with kr_read_to_fd, and all of it compared
// with what the built kestrun lists (--json) and extracts for the same bytes.
#include "../src/cli/output/json_text.h"
#include "e2e.h"
#include "kestrun/kestrun.h"
#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct PackageCloser {
    void operator()(kr_package *pkg) const {
        kr_close(pkg);
    }
};
using Package = std::unique_ptr<kr_package, PackageCloser>;

struct Opened {
    int code;
    kr_error err;
    Package pkg;
};

// kr_open, which must set `*out` whatever the outcome: null on failure.
Opened Open(const std::string &path, unsigned flags) {
    Opened opened{};
    kr_package *const unset = reinterpret_cast<kr_package *>(&opened);
    kr_package *pkg = unset;
    opened.code = kr_open(path.c_str(), flags, &pkg, &opened.err);
    EXPECT_NE(pkg, unset) << "kr_open left *out as it was";
    opened.pkg.reset(pkg == unset ? nullptr : pkg);
    return opened;
}

kr_entry EntryAt(const kr_package *pkg, uint32_t index) {
    kr_entry entry{};
    EXPECT_EQ(kr_entry_at(pkg, index, &entry), KR_OK);
    return entry;
}

// The entry's bytes through kr_read, in pieces of uneven sizes; any error
// or short piece before the end ends it, with the code in `*code`.
std::string ReadInPieces(const kr_package *pkg, uint32_t index, int64_t *code) {
    const size_t pieces[] = {1, 5, 4093, 3, 65536, 17};
    std::string bytes;
    std::vector<char> buffer(65536);
    *code = KR_OK;
    for (size_t turn = 0;; ++turn) {
        size_t want = pieces[turn % (sizeof pieces / sizeof pieces[0])];
        kr_error err{};
        int64_t got = kr_read(pkg, index, bytes.size(), buffer.data(), want, &err);
        if (got < 0) {
            *code = got;
            EXPECT_EQ(err.code, got);
            return bytes;
        }
        bytes.append(buffer.data(), static_cast<size_t>(got));
        if (static_cast<size_t>(got) < want) {
            return bytes;
        }
    }
}

// The entry's bytes through kr_read_to_fd into a file that already holds a
// few bytes, so that the copy must land at the descriptor's position.
std::string ReadToFile(const kr_package *pkg, uint32_t index, const std::string &path, int *code) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, "pre", 3), 3);
    kr_error err{};
    *code = kr_read_to_fd(pkg, index, fd, &err);
    close(fd);
    std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.substr(0, 3), "pre");
    return bytes.substr(3);
}

// The --json line of an entry, as the command line prints it.
std::string JsonLine(const kr_entry &entry) {
    return "{\"path\":" + JsonString(entry.path) + ",\"group\":" + JsonString(entry.group) +
           ",\"name\":" + JsonString(entry.name) + ",\"size\":" + std::to_string(entry.size) +
           ",\"offset\":" + std::to_string(entry.offset) + "}";
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// What an extraction left: files and directories ("d/"), by path.
struct Tree {
    std::set<std::string> files;
    std::set<std::string> directories;
};

// True when extraction could not have left a file at `path`: a name along
// it is a file, or the path itself is a directory.
bool Clashes(const Tree &tree, const std::string &path) {
    if (tree.directories.count(path + "/") != 0) {
        return true;
    }
    for (size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (tree.files.count(path.substr(0, slash)) != 0) {
            return true;
        }
    }
    return false;
}

// Opens `bytes` with the library and compares everything with the command
// line's run on the same bytes. The package is named "pack" (no extension),
// so that the command line extracts into its working directory itself, as
// kr_extract does into the directory it is given.
void CompareWithCommandLine(const std::string &bytes) {
    TempDir scratch;
    fs::create_directory(scratch / "in");
    fs::create_directory(scratch / "work");
    const std::string package = scratch / "in/pack";
    ASSERT_TRUE(WriteBytes(package, bytes));
    RunResult listed = RunKestrun(scratch / "work", {"--json", "../in/pack"});
    RunResult extracted = RunKestrun(scratch / "work", {"../in/pack"});
    ASSERT_TRUE(listed.status >= 0 && extracted.status >= 0)
        << "kestrun ended by signal " << extracted.signal << listed.signal << ": " << extracted.err;
    ASSERT_EQ(listed.status == 1, extracted.status == 1) << listed.err;

    Opened plain = Open(package, 0);
    Opened partial = Open(package, KR_OPEN_PARTIAL);
    std::vector<std::string> lines = Lines(listed.out);
    if (extracted.status != 1) {
        ASSERT_EQ(plain.code, KR_OK) << plain.err.message;
        ASSERT_EQ(partial.code, KR_OK) << partial.err.message;
    } else if (plain.code == KR_E_NOT_RBD) {
        EXPECT_EQ(partial.code, KR_E_NOT_RBD);
        EXPECT_EQ(partial.pkg, nullptr);
        EXPECT_TRUE(lines.empty());
        return;
    } else {
        ASSERT_EQ(plain.code, KR_E_DAMAGED) << plain.err.message;
        EXPECT_EQ(plain.pkg, nullptr);
        EXPECT_NE(plain.err.record, KR_NO_RECORD);
        ASSERT_EQ(partial.code, KR_OK) << partial.err.message;
    }
    const kr_package *pkg = partial.pkg.get();
    kr_info info{};
    ASSERT_EQ(kr_get_info(pkg, &info), KR_OK);
    EXPECT_EQ(info.package_size, bytes.size());
    EXPECT_EQ(info.version, 2);
    EXPECT_EQ(info.entries, kr_entry_count(pkg));
    EXPECT_EQ(info.damaged != 0, plain.code == KR_E_DAMAGED);
    if (info.damaged != 0) {
        EXPECT_EQ(info.damage.code, KR_E_DAMAGED);
        EXPECT_EQ(info.damage.record, plain.err.record);
        EXPECT_STREQ(info.damage.message, plain.err.message);
    } else {
        // The summary closes the listing of a package read to its end.
        ASSERT_FALSE(lines.empty());
        std::string counts = "{\"entries\":" + std::to_string(info.entries) +
                             ",\"groups\":" + std::to_string(info.groups) + ",";
        EXPECT_EQ(lines.back().rfind(counts, 0), 0u) << lines.back();
        lines.pop_back();
    }

    // The entries are the listing's, in its order.
    ASSERT_EQ(lines.size(), kr_entry_count(pkg));
    std::map<std::string, uint32_t> last_of_path;
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry = EntryAt(pkg, i);
        EXPECT_EQ(entry.index, i);
        EXPECT_EQ(JsonLine(entry), lines[i]);
        EXPECT_EQ(std::string(entry.path), std::string(entry.group) + entry.name);
        // Where a safe and an unsafe entry share a path, the safe one is what
        // extraction leaves.
        auto last = last_of_path.find(entry.path);
        if (last == last_of_path.end() || (entry.flags & KR_ENTRY_UNSAFE) == 0 ||
            (EntryAt(pkg, last->second).flags & KR_ENTRY_UNSAFE) != 0) {
            last_of_path[entry.path] = i;
        }
    }
    uint32_t found = 0;
    EXPECT_EQ(kr_find(pkg, "\x01no such entry", &found), KR_E_NOT_FOUND);

    Tree tree;
    for (const std::string &path : ListTree(scratch / "work")) {
        (path.back() == '/' ? tree.directories : tree.files).insert(path);
    }
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry = EntryAt(pkg, i);
        SCOPED_TRACE(std::string("entry ") + std::to_string(i) + " \"" + entry.path + "\"");
        ASSERT_EQ(kr_find(pkg, entry.path, &found), KR_OK);
        EXPECT_EQ(found, last_of_path[entry.path]);
        EXPECT_EQ((entry.flags & KR_ENTRY_SHADOWED) != 0, found > i);
        bool in_package = entry.size == 0 || entry.offset + entry.size <= bytes.size();
        EXPECT_EQ((entry.flags & KR_ENTRY_NO_DATA) == 0, in_package);

        int64_t read_code = 0;
        std::string read = ReadInPieces(pkg, i, &read_code);
        int copy_code = 0;
        std::string copied = ReadToFile(pkg, i, scratch / "copy", &copy_code);
        std::string expected =
            in_package && entry.size > 0 ? bytes.substr(entry.offset, entry.size) : "";
        EXPECT_EQ(read_code, in_package ? KR_OK : KR_E_NO_DATA);
        EXPECT_EQ(copy_code, in_package ? KR_OK : KR_E_NO_DATA);
        EXPECT_EQ(read, expected);
        EXPECT_EQ(copied, expected);
        char byte = 0;
        EXPECT_EQ(kr_read(pkg, i, entry.size + 1, &byte, 1, nullptr),
                  in_package ? 0 : KR_E_NO_DATA);
        char warning[512];
        EXPECT_EQ(kr_outcome_text(pkg, i, "", KR_OUTCOME_NO_DATA, warning, sizeof warning) > 0,
                  true);

        // What the command line left at the entry's path.
        const std::string on_disk = scratch / ("work/" + std::string(entry.path));
        bool written = (entry.flags & (KR_ENTRY_UNSAFE | KR_ENTRY_SHADOWED)) == 0;
        if (tree.files.count(entry.path) != 0 && found == i) {
            EXPECT_TRUE(written) << "the command line wrote what the library refuses";
            EXPECT_EQ(ReadFile(on_disk), expected);
        } else if (written) {
            EXPECT_TRUE(Clashes(tree, entry.path)) << "the command line left no file";
        }
    }
    // Every file the command line wrote is an entry's.
    for (const std::string &path : tree.files) {
        EXPECT_EQ(kr_find(pkg, path.c_str(), &found), KR_OK) << path;
    }
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 engine(seed);
    std::string bytes(size, '\0');
    for (char &byte : bytes) {
        byte = static_cast<char>(engine());
    }
    return bytes;
}

std::vector<std::pair<std::string, std::string>> MadePackages() {
    // The same path in one group and across groups; a directory where a
    // later entry would be a file; an entry larger than any piece read.
    PackLayout duplicates;
    duplicates.entries = {FileGroup("g", 3),
                          FileEntry("x", "first"),
                          FileEntry("y", "why"),
                          FileEntry("x", RandomBytes(200000, 1)),
                          DirectoryGroup("d", 1),
                          FileGroup("e", 1),
                          FileEntry("f", "one"),
                          FileGroup("g", 1),
                          FileEntry("x", "third"),
                          FileGroup("d", 1),
                          FileEntry("e", "a file where a directory is")};

    // Names that lead elsewhere or name nothing, in files and groups; a
    // safe entry and a later unsafe one with the same path.
    PackLayout unsafe;
    unsafe.entries = {
        FileGroup("g", 6),         FileEntry("..", "up"),    FileEntry("", "empty"),
        FileEntry(".", "dot"),     FileEntry("ok", "fine"),  FileEntry("a", "a file"),
        FileEntry("C:x", "drive"), DirectoryGroup("g", 1),   FileGroup("b", 1),
        FileEntry("c", "safe"),    FileGroup("g", 1),        FileEntry("b/c", "unsafe, same path"),
        FileGroup("..", 1),        FileEntry("f", "escape"), DirectoryGroup("..", 1),
        FileGroup("in", 1),        FileEntry("f", "deeper")};

    // Data past the end, far past it, empty far past it, and in the index.
    PackLayout past;
    past.entries = {FileGroup("g", 5),       FileEntry("whole", "bytes"),
                    FileEntry("header", ""), FileEntry("over", "abc"),
                    FileEntry("far", ""),    FileEntry("empty-far", "")};
    past.entries[2].offset = 0;
    past.entries[2].size = RBD_HEADER_SIZE;
    past.entries[3].size = 100;
    past.entries[4].offset = 0xFFFFFF00;
    past.entries[4].size = 1;
    past.entries[5].offset = 0xFFFFFFFF;

    // Cut short inside the second group's file table, and inside a group
    // record: what comes before the damage stays.
    PackLayout whole;
    whole.entries = {FileGroup("a", 1),     FileEntry("1", "one"),   FileGroup("b", 3),
                     FileEntry("2", "two"), FileEntry("3", "three"), FileEntry("4", "four"),
                     FileGroup("c", 1),     FileEntry("5", "five")};
    std::string complete = BuildPackage(whole);
    return {
        {"duplicates", BuildPackage(duplicates)},
        {"unsafe", BuildPackage(unsafe)},
        {"past the end", BuildPackage(past)},
        {"cut in a file table", complete.substr(0, RBD_HEADER_SIZE + RBD_RECORD_SIZE * 4 + 50)},
        {"cut in a group record", complete.substr(0, RBD_HEADER_SIZE + RBD_RECORD_SIZE * 6 + 10)}};
}

TEST(LibraryTest, EveryPackageReadsAsTheCommandLineListsAndExtractsIt) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "the library is tested natively";
    }
    for (const auto &[label, bytes] : MadePackages()) {
        SCOPED_TRACE(label);
        CompareWithCommandLine(bytes);
    }
    int files = 0;
    for (const char *dir : {"corpus", "regressions"}) {
        fs::path path = fs::path(KESTRUN_FUZZ_DIR) / dir;
        if (!fs::exists(path)) {
            continue;
        }
        for (const auto &item : fs::directory_iterator(path)) {
            SCOPED_TRACE(item.path().string());
            CompareWithCommandLine(ReadFile(item.path().string()));
            ++files;
        }
    }
    EXPECT_GT(files, 20);
}

// kr_read_to_fd into a pipe whose reader has gone fails with EPIPE and never
// ends its caller, whose pending SIGPIPE it leaves alone; into a
// non-blocking pipe, kr_read_to_fd_at goes on after each EAGAIN until the
// entry is whole. The caller is a C program (kr_read_to_fd_check.c).
TEST(LibraryTest, CopyToPipeNeverEndsTheCallerAndResumesAfterEagain) {
    TempDir scratch;
    std::string big;
    for (size_t i = 0; i < (size_t{1} << 20) + 12345; ++i) {
        big.push_back(static_cast<char>(i * 131 % 253));
    }
    PackLayout layout;
    layout.entries = {FileGroup("data", 1), FileEntry("big.bin", big)};
    ASSERT_TRUE(WriteBytes(scratch / "big.rbd", BuildPackage(layout)));
    RunResult run = RunProgram("KR_READ_TO_FD_CHECK_BIN", scratch.path(), {"big.rbd"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.out, "ok\n");
    EXPECT_EQ(run.status, 0);
}

// Paths as extraction writes them, whatever empty group names the package
// spells, and the limit on an output path measured as the command line
// measures it: on the group path the package spells.
TEST(LibraryTest, EmptyGroupNamesGiveThePathsThatExtractionWrites) {
    TempDir scratch;
    std::string bytes = BuildPackage(EmptyGroupNames());
    ASSERT_TRUE(WriteBytes(scratch / "pkg.rbd", bytes));
    Opened opened = Open(scratch / "pkg.rbd", 0);
    ASSERT_EQ(opened.code, KR_OK) << opened.err.message;
    const kr_package *pkg = opened.pkg.get();
    ASSERT_EQ(kr_entry_count(pkg), 4u);
    const char *paths[] = {"etc/passwd", "a/x", "a/x", "a/x"};
    const char *groups[] = {"etc/", "a/", "a/", ""};
    const uint32_t flags[] = {0, KR_ENTRY_SHADOWED, 0, KR_ENTRY_UNSAFE};
    for (uint32_t i = 0; i < 4; ++i) {
        kr_entry entry = EntryAt(pkg, i);
        EXPECT_STREQ(entry.path, paths[i]) << i;
        EXPECT_STREQ(entry.group, groups[i]) << i;
        EXPECT_EQ(entry.flags, flags[i]) << i;
    }
    uint32_t found = 99;
    EXPECT_EQ(kr_find(pkg, "etc/passwd", &found), KR_OK);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(kr_find(pkg, "a/x", &found), KR_OK);
    EXPECT_EQ(found, 2u);
    for (const char *spelled : {"/etc/passwd", "a//x"}) {
        EXPECT_EQ(kr_find(pkg, spelled, &found), KR_E_NOT_FOUND) << spelled;
    }
    kr_error err{};
    EXPECT_EQ(kr_extract(pkg, (scratch / "out").c_str(), nullptr, &err), KR_INCOMPLETE);
    EXPECT_EQ(ListTree(scratch / "out"),
              (std::vector<std::string>{"a/", "a/x", "etc/", "etc/passwd"}));
    EXPECT_EQ(ReadFile(scratch / "out/a/x"), "a//x, written over a/x\n");
    CompareWithCommandLine(bytes);

    // 244 characters of group names and twelve empty ones: "./" + "/" +
    // the group path as spelled + "x" is 260 characters, too long, though
    // the path written would fit.
    PackLayout spaced;
    for (int i = 0; i < 12; ++i) {
        spaced.entries.push_back(DirectoryGroup("", 1));
    }
    for (char c : std::string("abc")) {
        spaced.entries.push_back(DirectoryGroup(std::string(60, c), 1));
    }
    spaced.entries.push_back(FileGroup(std::string(60, 'd'), 1));
    spaced.entries.push_back(FileEntry("x", "too long as spelled"));
    ASSERT_TRUE(WriteBytes(scratch / "spaced.rbd", BuildPackage(spaced)));
    Opened long_one = Open(scratch / "spaced.rbd", 0);
    ASSERT_EQ(long_one.code, KR_OK) << long_one.err.message;
    EXPECT_EQ(EntryAt(long_one.pkg.get(), 0).flags, static_cast<uint32_t>(KR_ENTRY_UNSAFE));
    EXPECT_EQ(kr_entry_verdict(long_one.pkg.get(), 0, ""), KR_OUTCOME_TOO_LONG);
    EXPECT_EQ(kr_extract(long_one.pkg.get(), (scratch / "long").c_str(), nullptr, &err),
              KR_INCOMPLETE);
    EXPECT_EQ(ListTree(scratch / "long"), std::vector<std::string>{});
    CompareWithCommandLine(BuildPackage(spaced));
}

// Names escaped as the command line shows them on a terminal, with
// snprintf's contract: the whole length, whatever fits, zero-terminated.
TEST(LibraryTest, EscapeTextAsTheCommandShowsNamesOnATerminal) {
    char out[8];
    EXPECT_EQ(kr_escape_text("a\x1b\\b", out, sizeof out), 8);
    EXPECT_STREQ(out, "a\\x1b\\\\");
    EXPECT_EQ(kr_escape_text("caf\xc3\xa9", out, sizeof out), 5);
    EXPECT_STREQ(out, "caf\xc3\xa9");
    EXPECT_EQ(kr_escape_text("x", nullptr, 0), 1);
    EXPECT_EQ(kr_escape_text(nullptr, out, sizeof out), KR_E_INVALID);
    EXPECT_EQ(kr_escape_text("x", nullptr, 4), KR_E_INVALID);
}

TEST(LibraryTest, OpenSaysWhatIsWrongAndWhere) {
    TempDir scratch;
    Opened missing = Open(scratch / "missing.rbd", 0);
    EXPECT_EQ(missing.code, KR_E_IO);
    EXPECT_EQ(missing.err.code, KR_E_IO);
    EXPECT_EQ(missing.err.os_error, ENOENT);
    EXPECT_EQ(missing.err.record, KR_NO_RECORD);
    EXPECT_EQ(missing.pkg, nullptr);

    ASSERT_TRUE(WriteBytes(scratch / "text.rbd", std::string(2000, 't')));
    for (unsigned flags : {0u, KR_OPEN_PARTIAL}) {
        Opened text = Open(scratch / "text.rbd", flags);
        EXPECT_EQ(text.code, KR_E_NOT_RBD);
        EXPECT_EQ(text.err.record, KR_NO_RECORD);
        EXPECT_EQ(text.pkg, nullptr);
    }

    // Records count from 0 at byte 1024: the group record "a" is 0, its file
    // 1, the group "b" 2 and its files 3 to 5. The cut falls in record 4.
    PackLayout layout;
    layout.entries = {FileGroup("a", 1),     FileEntry("1", "one"),   FileGroup("b", 3),
                      FileEntry("2", "two"), FileEntry("3", "three"), FileEntry("4", "four")};
    std::string bytes = BuildPackage(layout).substr(0, RBD_HEADER_SIZE + RBD_RECORD_SIZE * 4 + 95);
    ASSERT_TRUE(WriteBytes(scratch / "cut.rbd", bytes));
    Opened plain = Open(scratch / "cut.rbd", 0);
    EXPECT_EQ(plain.code, KR_E_DAMAGED);
    EXPECT_EQ(plain.err.record, 4u);
    Opened partial = Open(scratch / "cut.rbd", KR_OPEN_PARTIAL);
    ASSERT_EQ(partial.code, KR_OK);
    kr_info info{};
    ASSERT_EQ(kr_get_info(partial.pkg.get(), &info), KR_OK);
    EXPECT_EQ(info.records, 6u);
    EXPECT_EQ(info.groups, 2u);
    EXPECT_EQ(info.entries, 1u);
    EXPECT_NE(info.damaged, 0);
    EXPECT_EQ(info.damage.code, KR_E_DAMAGED);
    EXPECT_EQ(info.damage.record, 4u);
    EXPECT_EQ(EntryAt(partial.pkg.get(), 0).path, std::string("a/1"));
    kr_entry past{};
    EXPECT_EQ(kr_entry_at(partial.pkg.get(), 1, &past), KR_E_INVALID);
}

// A FIFO (with no writer), a directory or a character device is refused at
// once, by path and by descriptor alike, before anything is read. An open
// or read that blocks ends the test by SIGALRM instead of hanging it.
TEST(LibraryTest, OpenRefusesWhatIsNoRegularFileOrBlockDevice) {
    TempDir scratch;
    ASSERT_EQ(mkfifo((scratch / "fifo.rbd").c_str(), 0600), 0);
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {scratch / "fifo.rbd", ESPIPE, "a FIFO"},
        {scratch.path(), EISDIR, "a directory"},
        {"/dev/null", ESPIPE, "a character device"},
    };
    alarm(20);
    for (const auto &[path, os_error, kind] : cases) {
        SCOPED_TRACE(path);
        const std::string message =
            "the package is " + kind + ", not a regular file or block device";
        Opened opened = Open(path, 0);
        EXPECT_EQ(opened.code, KR_E_IO);
        EXPECT_EQ(opened.err.os_error, os_error);
        EXPECT_EQ(opened.err.message, message);
        int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        kr_package *pkg = nullptr;
        kr_error err{};
        EXPECT_EQ(kr_open_fd(fd, 0, &pkg, &err), KR_E_IO);
        EXPECT_EQ(pkg, nullptr);
        EXPECT_EQ(err.message, message);
        close(fd);
    }
    alarm(0);
}

// A package read through a kr_source function: bytes in memory, handed out a
// few at a time, and, for a package whose data lies past 2 GiB, made up on
// the fly past its index. The function is the only way in.
struct MemorySource {
    std::string bytes;      // the package's first bytes
    uint64_t size = 0;      // its whole length; past `bytes`, each byte is its offset's
    size_t most = 7;        // the most bytes one call gives
    uint64_t fail_from = 0; // nonzero: a read at or past it fails
    uint64_t asked_past_end = 0;
};

int64_t ReadMemory(void *ctx, uint64_t offset, void *buf, size_t len) {
    auto &source = *static_cast<MemorySource *>(ctx);
    if (offset + len > source.size) {
        ++source.asked_past_end;
    }
    if (source.fail_from != 0 && offset + len > source.fail_from) {
        return -EIO;
    }
    if (offset >= source.size) {
        return 0;
    }
    size_t give = std::min<uint64_t>({len, source.most, source.size - offset});
    auto *out = static_cast<unsigned char *>(buf);
    for (size_t i = 0; i < give; ++i) {
        uint64_t at = offset + i;
        out[i] = at < source.bytes.size() ? static_cast<unsigned char>(source.bytes[at])
                                          : static_cast<unsigned char>(at * 7 + 1);
    }
    return static_cast<int64_t>(give);
}

Opened OpenSource(MemorySource &memory, unsigned flags) {
    kr_source source{sizeof(kr_source), memory.size, ReadMemory, &memory};
    Opened opened{};
    kr_package *pkg = nullptr;
    opened.code = kr_open_source(&source, flags, &pkg, &opened.err);
    opened.pkg.reset(pkg);
    return opened;
}

// Every made package opens through a function as from its file, entry for
// entry and byte for byte; what needs a descriptor is refused, not crashed.
TEST(LibraryTest, SourceFunctionReadsAsTheFile) {
    TempDir scratch;
    for (const auto &[label, bytes] : MadePackages()) {
        SCOPED_TRACE(label);
        ASSERT_TRUE(WriteBytes(scratch / "pack", bytes));
        MemorySource memory{bytes, bytes.size()};
        for (unsigned flags : {0u, KR_OPEN_PARTIAL}) {
            Opened file = Open(scratch / "pack", flags);
            Opened through = OpenSource(memory, flags);
            ASSERT_EQ(through.code, file.code);
            EXPECT_STREQ(through.err.message, file.err.message);
            if (file.code != KR_OK) {
                EXPECT_EQ(through.pkg, nullptr);
                continue;
            }
            const kr_package *pkg = through.pkg.get();
            kr_info expected{}, got{};
            kr_get_info(file.pkg.get(), &expected);
            kr_get_info(pkg, &got);
            EXPECT_EQ(std::tie(got.package_size, got.records, got.entries, got.groups, got.damaged),
                      std::tie(expected.package_size, expected.records, expected.entries,
                               expected.groups, expected.damaged));
            EXPECT_STREQ(got.damage.message, expected.damage.message);
            for (uint32_t i = 0; i < got.entries; ++i) {
                kr_entry a = EntryAt(file.pkg.get(), i), b = EntryAt(pkg, i);
                EXPECT_EQ(JsonLine(a), JsonLine(b));
                EXPECT_EQ(a.flags, b.flags);
                int64_t code_a = 0, code_b = 0;
                EXPECT_EQ(ReadInPieces(file.pkg.get(), i, &code_a), ReadInPieces(pkg, i, &code_b));
                EXPECT_EQ(code_a, code_b);
            }
            if (got.entries > 0) {
                kr_error err{};
                EXPECT_EQ(kr_read_to_fd(pkg, 0, 1, &err), KR_E_INVALID);
                EXPECT_EQ(kr_extract(pkg, (scratch / "out").c_str(), nullptr, &err), KR_E_INVALID);
                EXPECT_STREQ(err.message, "extracting needs a package opened from a file, not "
                                          "through a read function");
                kr_writer *w = nullptr;
                EXPECT_EQ(kr_writer_begin(pkg, (scratch / "new").c_str(), 0, &w, &err),
                          KR_E_INVALID);
                EXPECT_EQ(w, nullptr);
                EXPECT_EQ(kr_test(pkg, nullptr, &err) >= 0, true);
            }
        }
        EXPECT_EQ(memory.asked_past_end, 0u);
    }
}

// Offsets past 2 and 4 GiB reach the function whole; its failures and a
// source that ends early are the caller's KR_E_IO, never wrong bytes.
TEST(LibraryTest, SourceFunctionReachesPastTwoGibAndReportsItsFailures) {
    const uint64_t far = 0xC0000000; // 3 GiB
    PackLayout layout;
    layout.entries = {FileGroup("g", 2), FileEntry("near", "close by"), FileEntry("far", "")};
    layout.entries[2].offset = static_cast<uint32_t>(far);
    layout.entries[2].size = 100000;
    MemorySource memory{BuildPackage(layout), far + 100000};
    memory.most = 65536;
    Opened opened = OpenSource(memory, 0);
    ASSERT_EQ(opened.code, KR_OK) << opened.err.message;
    uint32_t index = 0;
    ASSERT_EQ(kr_find(opened.pkg.get(), "g/far", &index), KR_OK);
    EXPECT_EQ(EntryAt(opened.pkg.get(), index).flags, 0u);
    std::string bytes(100000, '\0');
    ASSERT_EQ(kr_read(opened.pkg.get(), index, 0, bytes.data(), bytes.size(), nullptr), 100000);
    for (size_t i = 0; i < bytes.size(); i += 4999) {
        EXPECT_EQ(static_cast<unsigned char>(bytes[i]),
                  static_cast<unsigned char>((far + i) * 7 + 1));
    }

    memory.fail_from = far + 50000;
    kr_error err{};
    EXPECT_EQ(kr_read(opened.pkg.get(), index, 40000, bytes.data(), 20000, &err), KR_E_IO);
    EXPECT_EQ(err.os_error, EIO);
    memory.fail_from = 0;
    memory.size = far + 50000; // the source now ends inside the entry
    std::string bytes_again(100000, '\0');
    EXPECT_EQ(kr_read(opened.pkg.get(), index, 0, bytes_again.data(), 100000, &err), KR_E_IO);

    MemorySource failing{std::string(), 5000, 7, 1};
    Opened refused = OpenSource(failing, 0);
    EXPECT_EQ(refused.code, KR_E_IO);
    EXPECT_EQ(refused.err.os_error, EIO);
    kr_source too_small{4, 5000, ReadMemory, &failing};
    kr_package *pkg = nullptr;
    EXPECT_EQ(kr_open_source(&too_small, 0, &pkg, &err), KR_E_INVALID);
    EXPECT_EQ(kr_open_source(nullptr, 0, &pkg, &err), KR_E_INVALID);
    EXPECT_EQ(pkg, nullptr);
}

// The command line's member rule: a pattern chooses a path or everything
// below a group it names, less a leading "./" and trailing slashes.
TEST(LibraryRulesTest, MemberMatchChoosesAsTheCommandLineDoes) {
    const struct {
        const char *pattern;
        const char *path;
        int chosen;
    } cases[] = {{"data", "data/snd/a.wav", 1},
                 {"./data/", "data/snd/a.wav", 1},
                 {"data/snd", "data/snd/a.wav", 1},
                 {"*.wav", "data/snd/a.wav", 1},
                 {"d?ta/*", "data/a.wav", 1},
                 {"[!x]ata", "data/a.wav", 1},
                 {"dat", "data/a.wav", 0},
                 {"a.wav", "data/a.wav", 0},
                 {"data/snd/a", "data/snd/a.wav", 0},
                 {"", "data/a.wav", 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(kr_member_match(c.pattern, c.path), c.chosen) << c.pattern << " " << c.path;
    }
    EXPECT_EQ(kr_member_match(nullptr, "a"), 0);
    EXPECT_EQ(kr_member_match("a", nullptr), 0);
}

} // namespace

// libkestrun's writer through its C API: what a commit leaves is read back
// with kr_open and compared entry for entry, byte for byte where the bytes
// must be kept; rbdpack (the built one) makes the packages that a no-op
// edit and rbdpack's order must give back unchanged.
#include "kestrun/kestrun.h"
#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"
#include "writer_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Files in byte order of names, as rbdpack reads a directory; "a.b" sorts
// before "a0" and "a/" holds both files and a subdirectory.
void MakeTree(const std::string &root) {
    const char *files[][2] = {
        {"a/b/deep/x.bin", "x"}, {"a/b/y", "yy"}, {"a/f1", "one"}, {"a/a.b/t", "t"},
        {"a0/empty", ""},        {"a0/z", "zzz"}, {"B/up", "UP"},  {"c/d/e/f/g", "g"},
        {"c/d/e/h", "hh"},       {"c/d/i", "i"},  {"c/j", "j"},    {"x/y/z", "z"},
    };
    for (const auto &file : files) {
        fs::path path = fs::path(root) / file[0];
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(WriteBytes(path.string(), file[1]));
    }
}

std::string Rbdpack(const TempDir &scratch, const std::string &name) {
    MakeTree(scratch / "tree");
    RunResult packed = RunProgram("RBDPACK_BIN", scratch.path(), {"tree", name});
    EXPECT_EQ(packed.status, 0) << packed.err;
    return scratch / name;
}

TEST(LibraryWriterTest, CommittingRbdpacksPackageUnchangedGivesItsBytesBack) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    Package base = OpenPackage(package);
    // Beside it, and over it, both from the same base.
    ASSERT_EQ(CommitUnchanged(base.get(), scratch / "copy.rbd"), KR_OK);
    ASSERT_EQ(CommitUnchanged(base.get(), package), KR_OK);
    EXPECT_TRUE(ReadFile(scratch / "copy.rbd") == before);
    EXPECT_TRUE(ReadFile(package) == before);
    // The open package still reads the file it opened.
    EXPECT_EQ(Entries(base.get()), Entries(OpenPackage(package).get()));
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"copy.rbd", "pkg.rbd", "tree"}));
}

TEST(LibraryWriterTest, FilesPutInRbdpacksOrderMakeRbdpacksPackage) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    Package packed = OpenPackage(package);
    Writer writer = Begin(nullptr, scratch / "made.rbd");
    for (const Entry &entry : Entries(packed.get())) {
        // Half from memory, half from files, which the writer reads at commit.
        if (entry.data.size() % 2 == 0) {
            ASSERT_EQ(kr_writer_put(writer.get(), entry.path.c_str(), entry.data.data(),
                                    entry.data.size(), nullptr),
                      KR_OK);
            continue;
        }
        int fd = open((scratch / "tree/" + entry.path).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(kr_writer_put_fd(writer.get(), entry.path.c_str(), fd, nullptr), KR_OK);
        close(fd);
    }
    ASSERT_EQ(Commit(writer), KR_OK);
    EXPECT_TRUE(ReadFile(scratch / "made.rbd") == ReadFile(package));
}

// A file group "g" of two entries whose records carry odd flags, unused
// bytes and bytes after their names' zero; a header whose unused fields and
// comment field past the comment are not zero; and a directory group "d"
// holding a file group "e" of one entry.
std::string OddPackage() {
    PackLayout layout;
    layout.entries = {FileGroup("g", 2),        FileEntry("keep", "kept bytes"),
                      FileEntry("edit", "old"), DirectoryGroup("d", 1),
                      FileGroup("e", 1),        FileEntry("tail", "tail bytes")};
    layout.entries[1].flags = 0xDEADBEEF;
    std::string bytes = BuildPackage(layout);
    bytes[2] = '\x7F';                   // the header's unused0
    bytes[9] = '\x42';                   // unused1
    bytes[RBD_HEADER_SIZE - 1] = '\x55'; // the comment field, past its zero
    for (size_t record = 0; record < 6; ++record) {
        size_t at = RBD_HEADER_SIZE + record * RBD_RECORD_SIZE;
        bytes[at + 20] = static_cast<char>(0xA0 + record);                  // unused fields
        bytes[at + RBD_RECORD_SIZE - 1] = static_cast<char>(0x30 + record); // past the name
    }
    return bytes;
}

// The record `index` of a package's bytes, with its data offset blanked
// when it is a file record (`file`).
std::string Record(const std::string &bytes, size_t index, bool file) {
    std::string record = bytes.substr(RBD_HEADER_SIZE + index * RBD_RECORD_SIZE, RBD_RECORD_SIZE);
    if (file) {
        record.replace(8, 4, 4, '\0');
    }
    return record;
}

TEST(LibraryWriterTest, RecordsAndHeaderNothingTouchedKeepTheirBytes) {
    TempDir scratch;
    const std::string before = OddPackage();
    ASSERT_TRUE(WriteBytes(scratch / "odd.rbd", before));
    Package base = OpenPackage(scratch / "odd.rbd");
    Writer writer = Begin(base.get(), scratch / "odd.rbd");
    // A longer entry moves the data of the one after it.
    const std::string edited(5000, 'e');
    ASSERT_EQ(kr_writer_put(writer.get(), "g/edit", edited.data(), edited.size(), nullptr), KR_OK);
    ASSERT_EQ(Commit(writer), KR_OK);

    const std::string after = ReadFile(scratch / "odd.rbd");
    EXPECT_EQ(after.substr(0, RBD_HEADER_SIZE), before.substr(0, RBD_HEADER_SIZE));
    for (size_t record : {0, 1, 3, 4, 5}) {
        bool file = record == 1 || record == 5;
        EXPECT_EQ(Record(after, record, file), Record(before, record, file)) << "record " << record;
    }
    // The edited record keeps all but its size and offset.
    std::string edited_record = Record(after, 2, true);
    std::string old_record = Record(before, 2, true);
    EXPECT_EQ(edited_record.substr(12), old_record.substr(12));
    EXPECT_EQ(edited_record.substr(0, 4), old_record.substr(0, 4));
    EXPECT_EQ(Entries(OpenPackage(scratch / "odd.rbd").get()),
              (std::vector<Entry>{
                  {"g/keep", "kept bytes"}, {"g/edit", edited}, {"d/e/tail", "tail bytes"}}));
}

// Records sharing bytes: "one" and "two" the same range, "part" inside it,
// "apart" after a gap, "gone" past the end of the package.
TEST(LibraryWriterTest, SharedBytesStaySharedAndMissingDataIsEmptied) {
    TempDir scratch;
    PackLayout layout;
    layout.entries = {FileGroup("s", 5),     FileEntry("one", ""),   FileEntry("two", ""),
                      FileEntry("part", ""), FileEntry("apart", ""), FileEntry("gone", "")};
    const uint32_t data = RBD_HEADER_SIZE + 6 * RBD_RECORD_SIZE;
    for (auto [record, offset, size] : {std::tuple<size_t, uint32_t, uint32_t>{1, data, 10},
                                        {2, data, 10},
                                        {3, data + 4, 3},
                                        {4, data + 20, 5},
                                        {5, data + 100, 50}}) {
        layout.entries[record].offset = offset;
        layout.entries[record].size = size;
    }
    std::string bytes = BuildPackage(layout) + "0123456789-gap------apart";
    ASSERT_TRUE(WriteBytes(scratch / "shared.rbd", bytes));
    Package base = OpenPackage(scratch / "shared.rbd");
    Writer writer = Begin(base.get(), scratch / "out.rbd");
    kr_writer_info info{};
    ASSERT_EQ(kr_writer_get_info(writer.get(), &info), KR_OK);
    EXPECT_EQ(info.entries, 5u);
    EXPECT_EQ(info.emptied, 1u);
    ASSERT_EQ(Commit(writer), KR_OK);

    Package out = OpenPackage(scratch / "out.rbd");
    EXPECT_EQ(Entries(out.get()), (std::vector<Entry>{{"s/one", "0123456789"},
                                                      {"s/two", "0123456789"},
                                                      {"s/part", "456"},
                                                      {"s/apart", "apart"},
                                                      {"s/gone", ""}}));
    std::vector<kr_entry> entries = EntryRecords(out.get());
    EXPECT_EQ(entries[1].offset, entries[0].offset);
    EXPECT_EQ(entries[2].offset, entries[0].offset + 4);
    EXPECT_EQ(entries[3].offset, entries[0].offset + 10); // the gap is gone
    EXPECT_EQ(entries[4].offset, entries[3].offset + 5);
    EXPECT_EQ(ReadFile(scratch / "out.rbd").size(), data + 15);
}

// The entries' paths of a package, in index order.
std::vector<std::string> Paths(const kr_package *pkg) {
    std::vector<std::string> paths;
    for (const Entry &entry : Entries(pkg)) {
        paths.push_back(entry.path);
    }
    return paths;
}

TEST(LibraryWriterTest, EntriesGoWhereRbdpackPutsThem) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    Package base = OpenPackage(package);
    Writer writer = Begin(base.get(), scratch / "out.rbd");
    kr_writer *w = writer.get();
    const char *edits[][3] = {
        {"put", "a/b/z", nullptr},          // the end of its file group
        {"put", "a/b/deep/x.bin", nullptr}, // replaced in place
        {"put", "c/d/e/g2", nullptr},       // the end of a group amid the index
        {"put", "x/n", nullptr},            // "x" is a directory group: a file group after it
        {"put", "a0/sub/n", nullptr},       // "a0" is a file group: a directory group before it
        {"put", "Bc/n", nullptr},           // between "B" and "a" at the top level
        {"rename", "a/f1", "a/f0"},         // in its place
        {"rename", "c/j", "a/b/j"},         // to the end of another group, "c/j"'s group emptied
        {"remove", "B/up", nullptr},        // "B" dropped
    };
    for (const auto &edit : edits) {
        int code = std::strcmp(edit[0], "put") == 0 ? kr_writer_put(w, edit[1], "new", 3, nullptr)
                   : std::strcmp(edit[0], "rename") == 0
                       ? kr_writer_rename(w, edit[1], edit[2], nullptr)
                       : kr_writer_remove(w, edit[1], nullptr);
        ASSERT_EQ(code, KR_OK) << edit[0] << " " << edit[1];
    }
    ASSERT_EQ(Commit(writer), KR_OK);
    Package out = OpenPackage(scratch / "out.rbd");
    EXPECT_EQ(Paths(out.get()), (std::vector<std::string>{
                                    "Bc/n", "a/a.b/t", "a/b/deep/x.bin", "a/b/y", "a/b/z", "a/b/j",
                                    "a/f0", "a0/sub/n", "a0/empty", "a0/z", "c/d/e/f/g", "c/d/e/h",
                                    "c/d/e/g2", "c/d/i", "x/y/z", "x/n"}));
    EXPECT_EQ(Entries(out.get())[2].data, "new");
    // Its tree packed anew by rbdpack has the same groups: each group made or
    // emptied above was made or dropped as rbdpack would.
    ASSERT_EQ(kr_extract(out.get(), (scratch / "extracted").c_str(), nullptr, nullptr), KR_OK);
    ASSERT_EQ(RunProgram("RBDPACK_BIN", scratch.path(), {"extracted", "again.rbd"}).status, 0);
    EXPECT_EQ(Info(out.get()).groups, Info(OpenPackage(scratch / "again.rbd").get()).groups);
    EXPECT_EQ(Info(out.get()).groups, 19u);
}

TEST(LibraryWriterTest, EveryRuleOfNamesAndSizesIsRefusedWithThePackageUnchanged) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    Package base = OpenPackage(package);
    Writer writer = Begin(base.get(), package);
    const std::string long_name(63, 'n');
    // "./pkg/" + the path: 258 bytes at most; "./p/" + the path below p.rbd.
    std::string groups = "a/";
    for (int level = 0; level < 4; ++level) {
        groups += std::string(60, 'd') + "/";
    }
    const std::string too_long = groups + "ffffffff";
    const std::string fits = groups + "ffffff";
    const char *const refused[][2] = {
        {"a//x", "an empty name"},          {"/a/x", "an empty name"},
        {"a/x/", "an empty name"},          {"a/../x", "unsafe name \"..\""},
        {"a/./x", "unsafe name \".\""},     {"a/x\\y", "unsafe name"},
        {"C:/x", "unsafe name \"C:\""},     {"top", "a file at the top level"},
        {"a/b", "a file where a group is"}, {"a/f1/x", "a group where a file is (\"a/f1\""},
        {"c/d", "a file where a group is"},
    };
    for (const auto &[path, rule] : refused) {
        kr_error err{};
        EXPECT_EQ(kr_writer_put(writer.get(), path, "x", 1, &err), KR_E_INVALID) << path;
        EXPECT_NE(std::strstr(err.message, rule), nullptr) << path << ": " << err.message;
        EXPECT_EQ(kr_writer_rename(writer.get(), "c/j", path, &err), KR_E_INVALID) << path;
        EXPECT_NE(std::strstr(err.message, rule), nullptr) << path << ": " << err.message;
    }
    kr_error err{};
    EXPECT_EQ(kr_writer_put(writer.get(), ("a/" + long_name).c_str(), "x", 1, &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "a name of 63 bytes"), nullptr) << err.message;
    EXPECT_EQ(kr_writer_put(writer.get(), too_long.c_str(), "x", 1, &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "path too long"), nullptr) << err.message;
    EXPECT_EQ(kr_writer_rename(writer.get(), "c/j", "a/f1", &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "exists already"), nullptr) << err.message;
    EXPECT_EQ(kr_writer_rename(writer.get(), "c/none", "c/new", &err), KR_E_NOT_FOUND);
    EXPECT_EQ(kr_writer_remove(writer.get(), "c/none", &err), KR_E_NOT_FOUND);
    // The length is checked before a byte is read.
    EXPECT_EQ(kr_writer_put(writer.get(), "a/huge", "x", size_t{1} << 32, &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "4 GiB or more"), nullptr) << err.message;
    ASSERT_EQ(Commit(writer), KR_OK);
    EXPECT_TRUE(ReadFile(package) == before);

    // What fits goes; the output root's name counts in the length. (The
    // commit put a new file at the path: the base is opened anew.)
    base = OpenPackage(package);
    Writer longer = Begin(base.get(), scratch / "p.rbd");
    EXPECT_EQ(kr_writer_put(longer.get(), too_long.c_str(), "x", 1, &err), KR_OK) << err.message;
    Writer shorter = Begin(base.get(), package);
    EXPECT_EQ(kr_writer_put(shorter.get(), fits.c_str(), "x", 1, &err), KR_OK) << err.message;
    EXPECT_EQ(kr_writer_begin(base.get(), package.c_str(), 2, nullptr, &err), KR_E_INVALID);
    kr_writer *none = nullptr;
    EXPECT_EQ(kr_writer_begin(base.get(), package.c_str(), 2, &none, &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "unknown flags"), nullptr);
    EXPECT_EQ(kr_writer_begin(nullptr, scratch.path().c_str(), 0, &none, &err), KR_E_IO);
    EXPECT_EQ(none, nullptr);
}

// Three entries of 2.2 GiB (sparse files, held until commit): the third's
// data would start past 4 GiB.
TEST(LibraryWriterTest, PackagePassingThirtyTwoBitOffsetsIsRefusedAtCommit) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    Package base = OpenPackage(package);
    Writer writer = Begin(base.get(), package);
    for (const char *path : {"zz/1", "zz/2", "zz/3"}) {
        int fd = open((scratch / "sparse").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_EQ(ftruncate(fd, off_t{0x8C000000}), 0);
        ASSERT_EQ(kr_writer_put_fd(writer.get(), path, fd, nullptr), KR_OK);
        close(fd);
    }
    kr_error err{};
    EXPECT_EQ(kr_writer_commit(writer.release(), &err), KR_E_INVALID);
    EXPECT_NE(std::strstr(err.message, "would pass 4 GiB: the data of \"zz/3\""), nullptr)
        << err.message;
    EXPECT_TRUE(ReadFile(package) == before);
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"pkg.rbd", "sparse", "tree"}));
}

TEST(LibraryWriterTest, FileThatChangesSizeBeforeCommitFailsIt) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    Package base = OpenPackage(package);
    for (bool shrinks : {true, false}) {
        ASSERT_TRUE(WriteBytes(scratch / "source", "source bytes"));
        Writer writer = Begin(base.get(), package);
        int fd = open((scratch / "source").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(kr_writer_put_fd(writer.get(), "a/source", fd, nullptr), KR_OK);
        ASSERT_EQ(ftruncate(fd, shrinks ? 3 : 30), 0);
        close(fd);
        kr_error err{};
        EXPECT_EQ(kr_writer_commit(writer.release(), &err), KR_E_CHANGED);
        EXPECT_NE(std::strstr(err.message, "\"a/source\" changed size since it was given (12 "
                                           "bytes then"),
                  nullptr)
            << err.message;
        EXPECT_TRUE(ReadFile(package) == before);
        EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"pkg.rbd", "source", "tree"}));
    }
}

// A file given is read at commit, as it is then; past the 64 files a writer
// holds, a file's bytes are copied at once, as they are at the put.
TEST(LibraryWriterTest, FilesGivenAreReadAtCommitUntilSixtyFourAreHeld) {
    TempDir scratch;
    Writer writer = Begin(nullptr, scratch / "files.rbd");
    std::vector<int> fds;
    for (int i = 0; i < 66; ++i) {
        std::string name = "f" + std::to_string(i);
        ASSERT_TRUE(WriteBytes(scratch / name, name + " as put"));
        fds.push_back(open((scratch / name).c_str(), O_RDWR | O_CLOEXEC));
        ASSERT_EQ(kr_writer_put_fd(writer.get(), ("g/" + name).c_str(), fds.back(), nullptr),
                  KR_OK);
    }
    for (int fd : fds) {
        ASSERT_EQ(pwrite(fd, "changed", 6, 0), 6); // the same size, other bytes
        close(fd);
    }
    ASSERT_EQ(Commit(writer), KR_OK);
    std::vector<Entry> entries = Entries(OpenPackage(scratch / "files.rbd").get());
    ASSERT_EQ(entries.size(), 66u);
    EXPECT_EQ(entries[0], (Entry{"g/f0", "changeput"}));
    EXPECT_EQ(entries[63], (Entry{"g/f63", "change put"}));
    EXPECT_EQ(entries[64], (Entry{"g/f64", "f64 as put"}));
    EXPECT_EQ(entries[65], (Entry{"g/f65", "f65 as put"}));
}

TEST(LibraryWriterTest, NoUpdateIsLost) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    Package base = OpenPackage(package);
    // Two editors of one package: the second to commit fails.
    Writer first = Begin(base.get(), package);
    Writer second = Begin(base.get(), package);
    ASSERT_EQ(kr_writer_put(first.get(), "a/first", "1", 1, nullptr), KR_OK);
    ASSERT_EQ(kr_writer_put(second.get(), "a/second", "2", 1, nullptr), KR_OK);
    ASSERT_EQ(Commit(first), KR_OK);
    const std::string after_first = ReadFile(package);
    kr_error err{};
    EXPECT_EQ(kr_writer_commit(second.release(), &err), KR_E_CHANGED);
    EXPECT_NE(std::strstr(err.message, "changed since"), nullptr) << err.message;
    EXPECT_TRUE(ReadFile(package) == after_first);
    // A base whose file was written since it was opened begins no edit of it.
    EXPECT_EQ(kr_writer_begin(base.get(), package.c_str(), 0, std::make_unique<kr_writer *>().get(),
                              &err),
              KR_E_CHANGED);
    // A name free at the beginning and taken before the commit.
    Writer fresh = Begin(base.get(), scratch / "new.rbd");
    ASSERT_TRUE(WriteBytes(scratch / "new.rbd", "someone else's"));
    EXPECT_EQ(kr_writer_commit(fresh.release(), &err), KR_E_CHANGED);
    EXPECT_EQ(ReadFile(scratch / "new.rbd"), "someone else's");
    kr_writer *none = nullptr;
    EXPECT_EQ(
        kr_writer_begin(nullptr, (scratch / "new.rbd").c_str(), KR_WRITER_EXCLUSIVE, &none, &err),
        KR_E_IO);
    EXPECT_EQ(err.os_error, EEXIST);
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"new.rbd", "pkg.rbd", "tree"}));
}

TEST(LibraryWriterTest, CommitFollowsLinksKeepsTheModeAndBreaksHardLinks) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    ASSERT_EQ(chmod(package.c_str(), 0640), 0);
    fs::create_directory(scratch / "links");
    fs::create_symlink("../pkg.rbd", scratch / "links/via.rbd");
    fs::create_symlink("via.rbd", scratch / "links/chain.rbd");
    fs::create_hard_link(package, scratch / "hard.rbd");
    fs::create_symlink("nowhere.rbd", scratch / "links/dangling.rbd");

    Package base = OpenPackage(scratch / "links/chain.rbd");
    Writer writer = Begin(base.get(), scratch / "links/chain.rbd");
    ASSERT_EQ(kr_writer_put(writer.get(), "a/new", "new", 3, nullptr), KR_OK);
    ASSERT_EQ(Commit(writer), KR_OK);
    EXPECT_TRUE(fs::is_symlink(scratch / "links/chain.rbd"));
    EXPECT_TRUE(fs::is_symlink(scratch / "links/via.rbd"));
    Package after = OpenPackage(package);
    uint32_t added = 0;
    ASSERT_EQ(kr_find(after.get(), "a/new", &added), KR_OK);
    EXPECT_EQ(Entries(after.get())[added].data, "new");
    struct stat status {};
    ASSERT_EQ(stat(package.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(status.st_nlink, 1u);
    EXPECT_TRUE(ReadFile(scratch / "hard.rbd") == before);
    kr_error err{};
    kr_writer *none = nullptr;
    EXPECT_EQ(kr_writer_begin(nullptr, (scratch / "links/dangling.rbd").c_str(), 0, &none, &err),
              KR_E_IO);
    EXPECT_EQ(err.os_error, ENOENT);
}

TEST(LibraryWriterTest, DamagedBaseOpenedPartialGivesWhatItKept) {
    TempDir scratch;
    PackLayout layout;
    layout.entries = {FileGroup("a", 1), FileEntry("kept", "kept"), DirectoryGroup("d", 2),
                      FileGroup("e", 1), FileEntry("also", "also")};
    // The directory group owes a child the index does not have.
    ASSERT_TRUE(WriteBytes(scratch / "damaged.rbd", BuildPackage(layout)));
    Package base = OpenPackage(scratch / "damaged.rbd", KR_OPEN_PARTIAL);
    ASSERT_TRUE(Info(base.get()).damaged);
    Writer writer = Begin(base.get(), scratch / "damaged.rbd");
    ASSERT_EQ(kr_writer_put(writer.get(), "d/e/more", "more", 4, nullptr), KR_OK);
    ASSERT_EQ(Commit(writer), KR_OK);
    // Sound now: it opens without KR_OPEN_PARTIAL.
    EXPECT_EQ(Entries(OpenPackage(scratch / "damaged.rbd").get()),
              (std::vector<Entry>{{"a/kept", "kept"}, {"d/e/also", "also"}, {"d/e/more", "more"}}));
}

TEST(LibraryWriterTest, FailedWriteLeavesThePackageAndNoFile) {
    TempDir scratch;
    std::string package = Rbdpack(scratch, "pkg.rbd");
    const std::string before = ReadFile(package);
    // A file size limit stands for a full disk: the writes fail, EFBIG.
    int status = RunInChild([&] {
        Package base = OpenPackage(package);
        Writer writer = Begin(base.get(), package);
        std::string big(1 << 20, 'b');
        if (kr_writer_put(writer.get(), "a/big", big.data(), big.size(), nullptr) != KR_OK) {
            return 2;
        }
        LimitFileSize(before.size() + 4096);
        kr_error err{};
        int code = kr_writer_commit(writer.release(), &err);
        return code == KR_E_IO && err.os_error == EFBIG ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ReadFile(package) == before);
    EXPECT_EQ(Names(scratch.path()), (std::vector<std::string>{"pkg.rbd", "tree"}));
}

} // namespace

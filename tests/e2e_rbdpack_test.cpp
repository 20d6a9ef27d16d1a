// rbdpack end to end: trees packed by the built rbdpack come back byte for
// byte from the built kestrun, and whatever a package can't hold is refused
// without leaving a package behind.
#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char kHelpPointer[] = "Try 'rbdpack --help' for more information.\n";

// A scratch directory holding the tree under "tree/"; rbdpack runs in it and
// writes "pkg.rbd", and kestrun extracts that into "out/pkg/".
class RbdpackTest : public ::testing::Test {
  protected:
    void Put(const std::string &relative, const std::string &bytes) {
        fs::path path = fs::path(scratch_.path()) / "tree" / relative;
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(WriteBytes(path.string(), bytes));
    }
    void MakeDir(const std::string &relative) {
        fs::create_directories(scratch_ / ("tree/" + relative));
    }
    RunResult Pack(const std::vector<std::string> &args = {"tree", "pkg.rbd"}) {
        return RunProgram("RBDPACK_BIN", scratch_.path(), args);
    }
    RunResult Extract() {
        fs::create_directory(scratch_ / "out");
        return RunKestrun(scratch_ / "out", {"../pkg.rbd"});
    }
    // Packs and extracts the tree and checks that every file came back.
    void ExpectRoundTrip(size_t files) {
        RunResult pack = Pack();
        ASSERT_EQ(pack.status, 0) << pack.out;
        EXPECT_EQ(pack.out, "Packed " + std::to_string(files) + " files into \"pkg.rbd\".\n");
        RunResult run = Extract();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.find("WARNING"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Reached end of package indices.\nDone!\n"), std::string::npos);
        ExpectSameTree(scratch_ / "tree", scratch_ / "out/pkg");
    }
    void ExpectSameTree(const std::string &expected, const std::string &actual) {
        std::vector<std::string> paths = ListTree(expected);
        ASSERT_EQ(ListTree(actual), paths);
        for (const std::string &path : paths) {
            if (path.back() != '/') {
                EXPECT_EQ(ReadFile(actual + "/" + path), ReadFile(expected + "/" + path)) << path;
            }
        }
    }
    // A refused tree: the exact error, status 1, and nothing written beside
    // the tree (no package, no temporary file).
    void ExpectRefused(const std::string &message,
                       const std::vector<std::string> &args = {"tree", "pkg.rbd"}) {
        RunResult pack = Pack(args);
        EXPECT_EQ(pack.err, message);
        EXPECT_EQ(pack.out, "");
        EXPECT_EQ(pack.status, 1);
        EXPECT_EQ(ListTree(scratch_.path()).front(), "tree/");
        for (const std::string &path : ListTree(scratch_.path())) {
            EXPECT_EQ(path.rfind("tree/", 0), 0u) << path;
        }
    }

    TempDir scratch_;
};

std::string Bytes(std::mt19937 &random, size_t size) {
    std::string bytes(size, '\0');
    for (char &byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

TEST_F(RbdpackTest, GeneratedTreesComeBackByteForByte) {
    std::mt19937 random(1998);
    std::vector<std::string> dirs = {"top"};
    for (int i = 0; i < 40; ++i) {
        // Hang every directory under a random earlier one: wide and deep places.
        std::string parent = dirs[random() % dirs.size()];
        dirs.push_back(parent + "/d" + std::to_string(i));
    }
    size_t files = 0;
    for (const std::string &dir : dirs) {
        // Every directory holds files, so many hold files and subdirectories.
        for (unsigned i = 0; i < 1 + random() % 4; ++i, ++files) {
            Put(dir + "/f" + std::to_string(i),
                Bytes(random, random() % 3 == 0 ? 0 : random() % 9000));
        }
    }
    ExpectRoundTrip(files);
}

TEST_F(RbdpackTest, EdgeShapedTreesComeBack) {
    std::string name62(62, 'n');
    std::string deep = "1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17/18/19/20/21/22/23/24/25";
    std::string every_byte;
    for (int i = 0; i < 256; ++i) {
        every_byte.push_back(static_cast<char>(i));
    }
    Put("empty/only", "");
    Put(deep + "/leaf", "deep");
    Put(name62 + "/" + name62, every_byte);
    Put("both/file", "beside a subdirectory");
    Put("both/sub/inner", "below it");
    Put("both/sub/more/x", "x");
    Put("odd names/sp ace,é\x01", "bytes of a name are kept");
    ExpectRoundTrip(7);
}

TEST_F(RbdpackTest, LaysOutTheIndexDepthFirstEndingOnAFileRecord) {
    // Names in byte order: "B" < "a" < "c" < "\xc3\xa9" (é in UTF-8).
    const std::vector<std::string> paths = {"c/w",     "a/b/z", "\xc3\xa9/r",
                                            "a/x.txt", "B/q",   "a/b/y"};
    for (const std::string &path : paths) {
        Put(path, path.substr(path.size() - 1) == "z" ? "" : "data of " + path);
    }
    PackLayout layout;
    // "a" holds files and a subdirectory: a directory group, then after
    // everything below it a file group of the same name.
    layout.entries = {FileGroup("B", 1),
                      FileEntry("q", "data of B/q"),
                      DirectoryGroup("a", 1),
                      FileGroup("b", 2),
                      FileEntry("y", "data of a/b/y"),
                      FileEntry("z", ""),
                      FileGroup("a", 1),
                      FileEntry("x.txt", "data of a/x.txt"),
                      FileGroup("c", 1),
                      FileEntry("w", "data of c/w"),
                      FileGroup("\xc3\xa9", 1),
                      FileEntry("r", "data of \xc3\xa9/r")};
    ASSERT_EQ(Pack().status, 0);
    EXPECT_EQ(ReadFile(scratch_ / "pkg.rbd"), BuildPackage(layout));

    // The same tree made in the opposite order gives the same package.
    TempDir other;
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
        fs::create_directories(fs::path(other / *path).parent_path());
        ASSERT_TRUE(WriteBytes(other / *path, ReadFile(scratch_ / ("tree/" + *path))));
    }
    ASSERT_EQ(Pack({other.path(), "again.rbd"}).status, 0);
    EXPECT_EQ(ReadFile(scratch_ / "again.rbd"), BuildPackage(layout));
}

TEST_F(RbdpackTest, LinksSpecialFilesAndEmptyDirectoriesAreSkippedWithAWarning) {
    Put("a/kept", "kept");
    fs::create_symlink("kept", scratch_ / "tree/a/link");
    fs::create_directory_symlink("../a", scratch_ / "tree/a/dirlink");
    ASSERT_EQ(mkfifo((scratch_ / "tree/a/fifo").c_str(), 0600), 0);
    MakeDir("a/empty/inner");
    RunResult pack = Pack();
    EXPECT_EQ(pack.err, "WARNING: Skipping symbolic link \"tree/a/dirlink\"!\n"
                        "WARNING: Skipping empty directory \"tree/a/empty/inner\"!\n"
                        "WARNING: Skipping empty directory \"tree/a/empty\"!\n"
                        "WARNING: Skipping special file \"tree/a/fifo\"!\n"
                        "WARNING: Skipping symbolic link \"tree/a/link\"!\n");
    EXPECT_EQ(pack.out, "Packed 1 file into \"pkg.rbd\".\n");
    EXPECT_EQ(pack.status, 0);
    ASSERT_EQ(Extract().status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out/pkg"), (std::vector<std::string>{"a/", "a/kept"}));
}

TEST_F(RbdpackTest, UsageOnRequestAndAPointerToItForMistakes) {
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"--help"}, {"-h"}, {"tree", "pkg.rbd", "-h"}}) {
        RunResult shown = Pack(args);
        EXPECT_EQ(shown.out.rfind("Usage: rbdpack [--exclude PATTERN]... DIR OUTPUT.rbd\n", 0), 0u);
        // What a package cannot keep is said once, here, rather than on every run.
        EXPECT_NE(shown.out.find("no modes, times, owners,\nlinks or empty directories."),
                  std::string::npos);
        EXPECT_EQ(shown.status, 0);
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"tree"}, "No OUTPUT.rbd given!"},
        {{"a", "b.rbd", "c"}, "Unexpected argument \"c\" after DIR and OUTPUT.rbd!"},
        {{"-x", "tree", "pkg.rbd"}, "Unknown option \"-x\"!"},
        {{"tree", "pkg.rbd", "--exclude"}, "Option \"--exclude\" needs a pattern!"}};
    for (const auto &mistake : mistakes) {
        RunResult run = Pack(mistake.first);
        EXPECT_EQ(run.err, "ERROR: " + mistake.second + "\n" + kHelpPointer);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(RbdpackTest, NamesKestrunCouldNotGiveBackAreRefusedWithTheWayToLeaveThemOut) {
    // Quotes and pattern characters in the name: the words given are ready
    // for a shell, and the pattern in them matches this name alone.
    std::string tail(60, 'L');
    Put("a/it's [*]" + tail, "");
    Put("a/it's [x]", "kept");
    ExpectRefused("ERROR: Name longer than 62 bytes, \"tree/a/it's [*]" + tail +
                  "\", aborting!\nTo pack the rest without it, add: --exclude "
                  R"('a/it'\''s \[\*])" +
                  tail + "'\n");
    ASSERT_EQ(Pack({"--exclude", R"(a/it's \[\*])" + tail, "tree", "pkg.rbd"}).status, 0);
    ASSERT_EQ(Extract().status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out/pkg"), (std::vector<std::string>{"a/", "a/it's [x]"}));
}

TEST_F(RbdpackTest, ExcludedPathsAreLeftOutAsKestrunMatchesMembers) {
    std::string long_name(63, 'L');
    Put("src/main.c", "main");
    Put("src/main.o", "object");
    Put("src/build/deep/x", "below an excluded directory");
    Put("docs/" + long_name + "/f", "under a name kestrun refuses");
    Put("notes", "a file directly in DIR");
    // Every path refused is told in the one run, with the words for them all.
    ExpectRefused("ERROR: Name longer than 62 bytes, \"tree/docs/" + long_name +
                  "\"!\nERROR: File outside every subdirectory (a package keeps files in "
                  "directories only), \"tree/notes\"!\nERROR: 2 paths refused, aborting!\n"
                  "To pack the rest without them, add: --exclude docs/" +
                  long_name + " --exclude notes\n");
    // "*" takes slashes too; "./" before and "/" after a pattern are dropped.
    RunResult pack = Pack({"--exclude", "*.o", "tree", "--exclude=./src/build/", "pkg.rbd",
                           "--exclude", "docs", "--exclude", "notes"});
    EXPECT_EQ(pack.err, "");
    EXPECT_EQ(pack.out, "Packed 1 file into \"pkg.rbd\".\n");
    ASSERT_EQ(Extract().status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out/pkg"), (std::vector<std::string>{"src/", "src/main.c"}));
}

TEST_F(RbdpackTest, UnsafeNamesAreRefused) {
    Put("a/back\\slash", "");
    ExpectRefused("ERROR: Unsafe name, \"tree/a/back\\slash\", aborting!\n"
                  "To pack the rest without it, add: --exclude 'a/back\\\\slash'\n");
    fs::remove_all(scratch_ / "tree");
    Put("C:drive/f", "");
    ExpectRefused("ERROR: Unsafe name, \"tree/C:drive\", aborting!\n"
                  "To pack the rest without it, add: --exclude C:drive\n");
}

TEST_F(RbdpackTest, PathsLongerThanKestrunTakesAreRefused) {
    // "./pkg/" + 4 * 62 + 4 slashes = 258 characters of directories alone.
    std::string dirs;
    for (int i = 0; i < 4; ++i) {
        dirs += std::string(62, static_cast<char>('a' + i)) + "/";
    }
    Put(dirs + "f", "");
    ExpectRefused("ERROR: Path too long for kestrun, \"tree/" + dirs + "f\", aborting!\n" +
                  "To pack the rest without it, add: --exclude " + dirs + "f\n");
}

TEST_F(RbdpackTest, FilesAtTheTopAndTreesWithoutFilesAreRefused) {
    Put("a/fine", "");
    Put("loose", "");
    ExpectRefused("ERROR: File outside every subdirectory (a package keeps files in directories "
                  "only), \"tree/loose\", aborting!\n"
                  "To pack the rest without it, add: --exclude loose\n");
    fs::remove_all(scratch_ / "tree");
    MakeDir("e");
    ExpectRefused("WARNING: Skipping empty directory \"tree/e\"!\n"
                  "ERROR: Nothing to pack, \"tree\", aborting!\n");
}

TEST_F(RbdpackTest, EntriesAndOffsetsPast32BitsAreRefused) {
    // Sparse files: nothing is read before the refusal.
    MakeDir("a");
    ASSERT_TRUE(WriteBytes(scratch_ / "tree/a/big", ""));
    fs::resize_file(scratch_ / "tree/a/big", uint64_t{1} << 32);
    ExpectRefused("ERROR: Entry of 4 GiB or more, \"tree/a/big\", aborting!\n"
                  "To pack the rest without it, add: --exclude a/big\n");
    fs::resize_file(scratch_ / "tree/a/big", UINT32_MAX);
    ASSERT_TRUE(WriteBytes(scratch_ / "tree/a/next", "x"));
    ExpectRefused("ERROR: Data would start past 4 GiB, \"tree/a/next\", aborting!\n");
}

TEST_F(RbdpackTest, RefusalLeavesAnEarlierPackageAlone) {
    Put("a/f", "");
    ASSERT_TRUE(WriteBytes(scratch_ / "pkg.rbd", "earlier package"));
    Put("a/" + std::string(70, 'x'), "");
    RunResult pack = Pack();
    EXPECT_EQ(pack.status, 1);
    EXPECT_EQ(ReadFile(scratch_ / "pkg.rbd"), "earlier package");
    EXPECT_EQ(ListTree(scratch_.path()).size(), ListTree(scratch_ / "tree").size() + 2);
}

TEST_F(RbdpackTest, BadArgumentsAreRefused) {
    Put("a/f", "");
    ExpectRefused("ERROR: Invalid package name \"p.r\", aborting!\n", {"tree", "p.r"});
    ExpectRefused("ERROR: Failed to read \"nowhere\": No such file or directory, aborting!\n",
                  {"nowhere", "pkg.rbd"});
    ExpectRefused("ERROR: Not a directory, \"tree/a/f\", aborting!\n", {"tree/a/f", "pkg.rbd"});
    ExpectRefused("ERROR: Package inside the tree it packs, \"tree/a/pkg.rbd\", aborting!\n",
                  {"tree", "tree/a/pkg.rbd"});
    EXPECT_EQ(ListTree(scratch_ / "tree/a"), std::vector<std::string>{"f"});
}

TEST_F(RbdpackTest, AnOutputThatCannotBeWrittenIsRefusedBeforeTheTreeIsRead) {
    // The tree would be refused too, but only once it had been read.
    Put("a/" + std::string(63, 'L'), "");
    fs::create_directory(scratch_ / "tree.rbd");
    RunResult directory = Pack({"tree", "tree.rbd"});
    EXPECT_EQ(directory.err, "ERROR: Output is a directory, \"tree.rbd\", aborting!\n");
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(ListTree(scratch_ / "tree.rbd"), std::vector<std::string>{});
    fs::remove(scratch_ / "tree.rbd");
    ExpectRefused("ERROR: No directory to write \"missing/pkg.rbd\" in: No such file or "
                  "directory, aborting!\n",
                  {"tree", "missing/pkg.rbd"});
}

TEST_F(RbdpackTest, FailuresOfTheSystemGiveItsReasonAndLeaveNoFile) {
    Put("a/f", std::string(4096, 'f'));
    // A file size limit makes the write fail rather than end the run.
    RunOptions limited;
    limited.file_size_limit = 2048;
    RunResult full = RunProgram("RBDPACK_BIN", scratch_.path(), {"tree", "pkg.rbd"}, limited);
    EXPECT_EQ(full.err, "ERROR: Failed to write \"pkg.rbd\": File too large, aborting!\n");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(ListTree(scratch_.path()),
              (std::vector<std::string>{"tree/", "tree/a/", "tree/a/f"}));
}

// kestrun takes the last four characters of the package's file name for its
// extension, so a name without one still packs but extracts into a cut name.
TEST_F(RbdpackTest, OutputNameWithoutAnExtensionIsWarnedOf) {
    Put("a/f", "f");
    RunResult pack = Pack({"tree", "output"});
    EXPECT_EQ(pack.err, "WARNING: No four-character extension such as \".rbd\" in \"output\": "
                        "kestrun will extract it into \"ou/\"!\n");
    EXPECT_EQ(pack.out, "Packed 1 file into \"output\".\n");
    EXPECT_EQ(pack.status, 0);
    fs::create_directory(scratch_ / "out");
    ASSERT_EQ(RunKestrun(scratch_ / "out", {"../output"}).status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out"), (std::vector<std::string>{"ou/", "ou/a/", "ou/a/f"}));
    RunResult root = Pack({"tree", "abcd"});
    EXPECT_EQ(root.err, "WARNING: No four-character extension such as \".rbd\" in \"abcd\": "
                        "kestrun will extract it into the working directory itself!\n");
    EXPECT_EQ(Pack({"tree", "x.tar.rbd"}).out, "Packed 1 file into \"x.tar.rbd\".\n");
}

// ---- Editing a package in place -------------------------------------------

// The index records of a package, 96 bytes each, as many as its header says.
std::vector<std::string> Records(const std::string &package) {
    size_t count = 0;
    for (size_t at = offsetof(RBDHeader, num_indices); at < offsetof(RBDHeader, unused1); ++at) {
        count = count << 8 | static_cast<unsigned char>(package[at]);
    }
    std::vector<std::string> records;
    for (size_t i = 0; i < count; ++i) {
        records.push_back(package.substr(RBD_HEADER_SIZE + i * RBD_RECORD_SIZE, RBD_RECORD_SIZE));
    }
    return records;
}

// A file record less its offset, which moves with the data before it.
std::string WithoutOffset(std::string record) {
    record.replace(offsetof(RBDFileHeader, offset), 4, 4, '\0');
    return record;
}

// A file record with bytes that nothing reads: odd flags and a name field
// that goes on after the name's zero.
PackEntry OddEntry(const std::string &name, const std::string &data) {
    PackEntry entry = FileEntry(name + std::string(1, '\0') + "tail of " + name, data);
    entry.flags = 0xDEADBEEF;
    return entry;
}

TEST_F(RbdpackTest, UpdateFromAnExtractionChangesExactlyTheEditedEntries) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("data", 1),   FileGroup("snd", 3),
                      OddEntry("a.wav", "aaaa"),   OddEntry("b.wav", "bbbb"),
                      OddEntry("c.wav", "cccc"),   FileGroup("data", 2),
                      OddEntry("old.txt", "gone"), OddEntry("readme", "read me")};
    const std::string before = BuildPackage(layout);
    ASSERT_TRUE(WriteBytes(scratch_ / "pkg.rbd", before));
    ASSERT_EQ(Extract().status, 0);
    // Two files edited (one keeps its size, so only its bytes tell), one
    // added, one removed.
    ASSERT_TRUE(WriteBytes(scratch_ / "out/pkg/data/snd/b.wav", "BBBB"));
    ASSERT_TRUE(WriteBytes(scratch_ / "out/pkg/data/readme", "read me again"));
    ASSERT_TRUE(WriteBytes(scratch_ / "out/pkg/data/snd/d.wav", "new"));
    fs::remove(scratch_ / "out/pkg/data/old.txt");
    const std::string changes = "Removing \"data/old.txt\"\n"
                                "Replacing \"data/snd/b.wav\"\n"
                                "Adding \"data/snd/d.wav\"\n"
                                "Replacing \"data/readme\"\n";
    RunResult dry = Pack({"--update", "-n", "pkg.rbd", "out/pkg", "--delete-missing"});
    EXPECT_EQ(dry.out, changes + "Dry run, nothing written to \"pkg.rbd\": 2 changed, 1 new, "
                                 "1 gone.\n");
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == before);

    RunResult update = Pack({"--update", "pkg.rbd", "out/pkg", "--delete-missing"});
    EXPECT_EQ(update.out, changes + "Updated \"pkg.rbd\": 2 changed, 1 new, 1 gone.\n");
    EXPECT_EQ(update.err, "");
    EXPECT_EQ(update.status, 0);
    RunResult diff = RunKestrun(scratch_.path(), {"--diff", "out/pkg", "pkg.rbd"});
    EXPECT_EQ(diff.out, "");
    EXPECT_EQ(diff.status, 0);
    // The records nothing touched keep every byte but their data's offset;
    // one replaced keeps every byte but its size and offset.
    std::vector<std::string> old_records = Records(before);
    std::vector<std::string> new_records = Records(ReadFile(scratch_ / "pkg.rbd"));
    ASSERT_EQ(new_records.size(), 8u);
    EXPECT_EQ(WithoutOffset(new_records[2]), WithoutOffset(old_records[2])); // a.wav
    EXPECT_EQ(WithoutOffset(new_records[3]), WithoutOffset(old_records[3])); // b.wav, same size
    EXPECT_EQ(WithoutOffset(new_records[4]), WithoutOffset(old_records[4])); // c.wav
    EXPECT_EQ(new_records[7].substr(RBD_NAME_OFFSET), old_records[7].substr(RBD_NAME_OFFSET));
    EXPECT_EQ(new_records[7].substr(0, 4), old_records[7].substr(0, 4)); // readme's flags

    // Nothing differs now: nothing is written.
    fs::last_write_time(scratch_ / "pkg.rbd", fs::file_time_type());
    RunResult again = Pack({"--update", "pkg.rbd", "out/pkg"});
    EXPECT_EQ(again.out, "Updated \"pkg.rbd\": 0 changed, 0 new, 0 gone.\n");
    EXPECT_EQ(fs::last_write_time(scratch_ / "pkg.rbd"), fs::file_time_type());
}

TEST_F(RbdpackTest, AddDeleteAndRenameSayWhatTheyChangeAndADryRunChangesNothing) {
    Put("a/x", "x");
    Put("a/y", "y");
    Put("b/z", "z");
    ASSERT_EQ(Pack().status, 0);
    ASSERT_TRUE(WriteBytes(scratch_ / "file", "from a file"));
    const std::string packed = ReadFile(scratch_ / "pkg.rbd");
    RunResult dry = Pack({"-n", "--add", "pkg.rbd", "file", "a/x"});
    EXPECT_EQ(dry.out, "Replacing \"a/x\"\n"
                       "Dry run, nothing written to \"pkg.rbd\": 1 changed, 0 new, 0 gone.\n");
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == packed);

    const std::vector<std::pair<std::vector<std::string>, std::string>> edits = {
        {{"--add", "pkg.rbd", "file", "a/new"},
         "Adding \"a/new\"\nUpdated \"pkg.rbd\": 0 changed, 1 new, 0 gone.\n"},
        {{"--add", "pkg.rbd", "file", "b/z"},
         "Replacing \"b/z\"\nUpdated \"pkg.rbd\": 1 changed, 0 new, 0 gone.\n"},
        {{"--rename", "pkg.rbd", "a/new", "c/d/moved"},
         "Renaming \"a/new\" to \"c/d/moved\"\nUpdated \"pkg.rbd\": 1 name changed.\n"},
        // A group named takes everything below it, as kestrun's MEMBERs do.
        {{"--delete", "pkg.rbd", "a", "--", "-n"}, ""},
        {{"--delete", "pkg.rbd", "a"},
         "Removing \"a/x\"\nRemoving \"a/y\"\nUpdated \"pkg.rbd\": 0 changed, 0 new, 2 gone.\n"}};
    for (const auto &[args, out] : edits) {
        RunResult run = Pack(args);
        EXPECT_EQ(run.out, out) << args[0];
        EXPECT_EQ(run.status, out.empty() ? 1 : 0) << args[0];
    }
    ASSERT_EQ(Extract().status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out/pkg"),
              (std::vector<std::string>{"b/", "b/z", "c/", "c/d/", "c/d/moved"}));
    EXPECT_EQ(ReadFile(scratch_ / "out/pkg/b/z"), "from a file");

    // Refused edits: the reason, status 1, and the package as it was.
    const std::string edited = ReadFile(scratch_ / "pkg.rbd");
    // "./pkg/" and 4 names of 62 bytes with their slashes: 258 bytes, and a
    // file's name past them.
    std::string deep;
    for (char c = 'a'; c < 'e'; ++c) {
        deep += std::string(62, c) + "/";
    }
    deep += "f";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--delete", "pkg.rbd", "b", "x*", "y"},
         "ERROR: No entry matches \"x*\"!\nERROR: No entry matches \"y\"!\n"
         "ERROR: 2 patterns match nothing, aborting!\n"},
        {{"--rename", "pkg.rbd", "b/z", "c/d/moved"},
         "ERROR: An entry has the path \"c/d/moved\" already, aborting!\n"},
        {{"--rename", "pkg.rbd", "b/none", "b/y"},
         "ERROR: No entry has the path \"b/none\", aborting!\n"},
        {{"--add", "pkg.rbd", "file", "loose"},
         "ERROR: A file at the top level (files live in groups only), \"loose\", aborting!\n"},
        {{"--add", "pkg.rbd", "file", "c/d"},
         "ERROR: A file where a group is (a group has that path), \"c/d\", aborting!\n"},
        {{"--rename", "pkg.rbd", "b/z", "b/" + std::string(63, 'L')},
         "ERROR: A name of 63 bytes, \"LLLLLLLLLLLLLLLLLLLL...\" (a name holds 62 at most), "
         "\"b/" +
             std::string(63, 'L') + "\", aborting!\n"},
        {{"--add", "pkg.rbd", "file", deep},
         "ERROR: Path too long: extracted below an output root of 3 bytes it would pass 258 "
         "bytes, \"" +
             deep + "\", aborting!\n"},
        {{"--add", "pkg.rbd", "missing", "b/m"},
         "ERROR: Failed to read \"missing\": No such file or directory, aborting!\n"},
        {{"--update", "pkg.rbd", "b", "-L", "--delete-missing", "x"},
         "ERROR: Unexpected argument \"x\" after PACKAGE and DIR!\n" + std::string(kHelpPointer)},
        {{"--delete", "pkg.rbd", "--exclude", "b", "b"},
         "ERROR: Option \"--exclude\" goes with packing or --update only!\n" +
             std::string(kHelpPointer)},
        {{"--add", "--rename", "pkg.rbd", "a", "b"},
         "ERROR: Options \"--add\" and \"--rename\" can't be given together!\n" +
             std::string(kHelpPointer)}};
    for (const auto &[args, err] : refused) {
        RunResult run = Pack(args);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == edited);
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(scratch_.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"file", "out", "pkg.rbd", "tree"}));
}

TEST_F(RbdpackTest, EveryRefusedPathIsToldInOneRunWithTheExcludesForThemAll) {
    Put("a/fine", "fine");
    Put("b/fine", "fine");
    ASSERT_EQ(Pack().status, 0);
    const std::string packed = ReadFile(scratch_ / "pkg.rbd");
    std::string long_name(63, 'L');
    Put("a/" + long_name, "");
    Put("a/back\\slash", "");
    Put("loose", "");
    const std::string refusals = "ERROR: Name longer than 62 bytes, \"tree/a/" + long_name +
                                 "\"!\nERROR: Unsafe name, \"tree/a/back\\slash\"!\n"
                                 "ERROR: File outside every subdirectory (a package keeps files "
                                 "in directories only), \"tree/loose\"!\n";
    const std::string excludes =
        "--exclude a/" + long_name + " --exclude 'a/back\\\\slash' --exclude loose";
    RunResult pack = Pack();
    EXPECT_EQ(pack.err, refusals +
                            "ERROR: 3 paths refused, aborting!\n"
                            "To pack the rest without them, add: " +
                            excludes + "\n");
    EXPECT_EQ(pack.status, 1);
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == packed);

    // --update refuses the same, and what the package can't hold besides: a
    // group where it has a file.
    fs::remove(scratch_ / "tree/b/fine");
    Put("b/fine/deeper", "");
    RunResult update = Pack({"--update", "pkg.rbd", "tree"});
    EXPECT_EQ(update.err, refusals +
                              "ERROR: A group where a file is (\"b/fine\" is an entry), "
                              "\"tree/b/fine/deeper\"!\n"
                              "ERROR: 4 paths refused, aborting!\n"
                              "To update the package without them, add: " +
                              excludes + " --exclude b/fine/deeper\n");
    EXPECT_EQ(update.out, "");
    EXPECT_EQ(update.status, 1);
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == packed);
    // The words given, pasted, leave them out.
    RunResult left_out =
        Pack({"--update", "pkg.rbd", "tree", "--exclude", "a/" + long_name, "--exclude",
              "a/back\\\\slash", "--exclude", "loose", "--exclude", "b/fine/deeper"});
    EXPECT_EQ(left_out.out, "Updated \"pkg.rbd\": 0 changed, 0 new, 0 gone.\n");
    EXPECT_EQ(left_out.status, 0);
}

TEST_F(RbdpackTest, UpdateReplacesTheEntryOfARepeatedPathThatExtractionLeaves) {
    PackLayout layout;
    layout.entries = {FileGroup("g", 3), FileEntry("f", "first"), FileEntry("f", "second"),
                      FileEntry("other", "o")};
    ASSERT_TRUE(WriteBytes(scratch_ / "pkg.rbd", BuildPackage(layout)));
    ASSERT_EQ(Extract().status, 0);
    ASSERT_EQ(ReadFile(scratch_ / "out/pkg/g/f"), "second");
    EXPECT_EQ(Pack({"--update", "pkg.rbd", "out/pkg"}).out,
              "Updated \"pkg.rbd\": 0 changed, 0 new, 0 gone.\n");
    ASSERT_TRUE(WriteBytes(scratch_ / "out/pkg/g/f", "third"));
    EXPECT_EQ(Pack({"--update", "pkg.rbd", "out/pkg"}).out,
              "Replacing \"g/f\"\nUpdated \"pkg.rbd\": 1 changed, 0 new, 0 gone.\n");
    // The earlier entry of the path stays where it was.
    layout.entries[2] = FileEntry("f", "third");
    EXPECT_TRUE(ReadFile(scratch_ / "pkg.rbd") == BuildPackage(layout));
}

TEST_F(RbdpackTest, DereferenceFollowsLinksUnderTheTree) {
    Put("a/real", "real");
    fs::create_symlink("real", scratch_ / "tree/a/link");
    MakeDir("d");
    fs::create_directory_symlink("../a", scratch_ / "tree/d/dirlink");
    fs::create_directory_symlink(".", scratch_ / "tree/a/loop");
    RunResult pack = Pack({"-L", "tree", "pkg.rbd"});
    EXPECT_EQ(pack.err,
              "WARNING: Skipping symbolic link to a directory it is in \"tree/a/loop\"!\n"
              "WARNING: Skipping symbolic link to a directory it is in \"tree/d/dirlink/loop\"!\n");
    EXPECT_EQ(pack.out, "Packed 4 files into \"pkg.rbd\".\n");
    ASSERT_EQ(Extract().status, 0);
    EXPECT_EQ(ListTree(scratch_ / "out/pkg"),
              (std::vector<std::string>{"a/", "a/link", "a/real", "d/", "d/dirlink/",
                                        "d/dirlink/link", "d/dirlink/real"}));
    EXPECT_EQ(ReadFile(scratch_ / "out/pkg/d/dirlink/link"), "real");
    // --update follows them too: one file seen through three names.
    ASSERT_TRUE(WriteBytes(scratch_ / "tree/a/real", "REAL"));
    EXPECT_EQ(Pack({"--update", "--dereference", "pkg.rbd", "tree"}).out,
              "Replacing \"a/link\"\nReplacing \"a/real\"\nReplacing \"d/dirlink/link\"\n"
              "Replacing \"d/dirlink/real\"\nUpdated \"pkg.rbd\": 4 changed, 0 new, 0 gone.\n");
}

} // namespace

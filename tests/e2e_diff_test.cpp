// --diff OTHER PACKAGE: what extraction would leave of PACKAGE against
// another package or a directory, such as an earlier extraction.
#include "e2e.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using DiffTest = ExtractTest;

// The earlier package: data/ holds a.txt, b.txt, gone.txt and x.
PackLayout Earlier() {
    PackLayout layout;
    layout.entries = {FileGroup("data", 4), FileEntry("a.txt", "same"), FileEntry("b.txt", "old b"),
                      FileEntry("gone.txt", "gone"), FileEntry("x", "safe x")};
    return layout;
}

// The later one repeats b.txt, whose later entry differs, in bytes of the
// same size; its unsafe "data/x" (a top-level file group named "", as in
// EmptyGroupNames) leaves the safe data/x in place, and ".." leaves
// nothing. The data of "cut" runs past the package's end: extraction leaves
// an empty file. data-x/y sorts before data/, as git sorts it.
PackLayout Later() {
    PackEntry cut = FileEntry("cut", "");
    cut.size = 8;
    cut.offset = 0x7fffff00;
    PackLayout layout;
    layout.entries = {FileGroup("data", 7),
                      FileEntry("a.txt", "same"),
                      FileEntry("b.txt", "old b"),
                      FileEntry("x", "safe x"),
                      FileEntry("b.txt", "new b"),
                      FileEntry("..", "refused"),
                      FileEntry("new.txt", "new"),
                      cut,
                      FileGroup("", 1),
                      FileEntry("data/x", "unsafe, never left"),
                      FileGroup("data-x", 1),
                      FileEntry("y", "y")};
    return layout;
}

class DiffFixture : public DiffTest {
  protected:
    void SetUp() override {
        DiffTest::SetUp();
        ASSERT_TRUE(WriteBytes(Work("old.rbd"), BuildPackage(Earlier())));
        ASSERT_TRUE(WriteBytes(Work("new.rbd"), BuildPackage(Later())));
        // The same with a name to escape on a terminal.
        PackLayout odd = Later();
        odd.entries.push_back(FileGroup("e\x1b[2J", 1));
        odd.entries.push_back(FileEntry("n", "escape"));
        ASSERT_TRUE(WriteBytes(Work("odd.rbd"), BuildPackage(odd)));
    }
    RunResult Kestrun(const std::vector<std::string> &args, const RunOptions &options = {}) {
        return RunKestrun(scratch_ / "work", args, options);
    }
};

TEST_F(DiffFixture, PackagesCompareAsTheirExtractionsWouldLeaveThem) {
    // Into a pipe names go byte for byte.
    RunResult run = Kestrun({"--diff", "old.rbd", "odd.rbd"});
    EXPECT_EQ(run.out, "A\tdata-x/y\n"
                       "M\tdata/b.txt\n"
                       "A\tdata/cut\n"
                       "D\tdata/gone.txt\n"
                       "A\tdata/new.txt\n"
                       "A\te\x1b[2J/n\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 2);
    // The other way round, with -f, member patterns and --exclude.
    RunResult back =
        Kestrun({"--diff=new.rbd", "--exclude", "data/new.txt", "-f", "old.rbd", "data/*.txt"});
    EXPECT_EQ(back.out, "M\tdata/b.txt\n"
                        "A\tdata/gone.txt\n");
    EXPECT_EQ(back.status, 2);
    // -q prints nothing: the status tells.
    RunResult quiet = Kestrun({"-q", "--diff", "old.rbd", "new.rbd"});
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(quiet.status, 2);
    RunResult same = Kestrun({"--diff", "new.rbd", "new.rbd"});
    EXPECT_EQ(same.out + same.err, "");
    EXPECT_EQ(same.status, 0);
    // Nothing was written.
    EXPECT_EQ(ListTree(scratch_ / "work"),
              (std::vector<std::string>{"new.rbd", "odd.rbd", "old.rbd"}));
}

TEST_F(DiffFixture, AnExtractionIsTheSameAndItsEditsShow) {
    // ".." and "data/x" refused, "cut" left empty.
    ASSERT_EQ(Kestrun({"-q", "new.rbd"}).status, 2);
    RunResult fresh = Kestrun({"--diff", "new", "new.rbd"});
    EXPECT_EQ(fresh.out + fresh.err, "");
    EXPECT_EQ(fresh.status, 0);

    // An earlier extraction, with one file edited (same size), one added
    // and one removed; a file whose name sorts between data-x/ and data/.
    ASSERT_EQ(Kestrun({"-q", "old.rbd"}).status, 0);
    ASSERT_TRUE(WriteBytes(Work("old/data/a.txt"), "SAME"));
    ASSERT_TRUE(WriteBytes(Work("old/data/added.txt"), "added"));
    ASSERT_TRUE(WriteBytes(Work("old/data.txt"), "beside"));
    ASSERT_EQ(unlink(Work("old/data/x").c_str()), 0);
    RunResult run = Kestrun({"--diff", "old/", "new.rbd"});
    EXPECT_EQ(run.out, "A\tdata-x/y\n"
                       "D\tdata.txt\n"
                       "M\tdata/a.txt\n"
                       "D\tdata/added.txt\n"
                       "M\tdata/b.txt\n"
                       "A\tdata/cut\n"
                       "D\tdata/gone.txt\n"
                       "A\tdata/new.txt\n"
                       "A\tdata/x\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 2);

    RunResult missing = Kestrun({"--diff", "none", "new.rbd"});
    EXPECT_EQ(missing.err.rfind("ERROR: Failed to find \"none\": ", 0), 0u) << missing.err;
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.status, 1);
    RunResult directory = Kestrun({"--diff", "new.rbd", "old"});
    EXPECT_EQ(directory.err, "ERROR: \"old\" is a directory, not an RBD package, aborting!\n");
    EXPECT_EQ(directory.status, 1);
}

// A link in the directory is never followed, even to a file of the very
// bytes the package holds; nor is a FIFO opened.
TEST_F(DiffFixture, LinksAndSpecialFilesInTheDirectoryDifferFromEveryEntry) {
    if (RunsWindowsBuild()) {
        GTEST_SKIP() << "under Wine a link to a file passes for the file";
    }
    ASSERT_EQ(Kestrun({"-q", "new.rbd"}).status, 2);
    ASSERT_TRUE(WriteBytes(Work("copy.txt"), "new"));
    ASSERT_EQ(unlink(Work("new/data/new.txt").c_str()), 0);
    ASSERT_EQ(symlink("../../copy.txt", Work("new/data/new.txt").c_str()), 0);
    ASSERT_EQ(symlink("/", Work("new/data/root").c_str()), 0);
    ASSERT_EQ(mkfifo(Work("new/fifo").c_str(), 0600), 0);
    RunResult run = Kestrun({"--diff", "new", "new.rbd"});
    EXPECT_EQ(run.out, "M\tdata/new.txt\n"
                       "D\tdata/root\n"
                       "D\tfifo\n");
    EXPECT_EQ(run.err, "WARNING: Not following symbolic link \"new/data/new.txt\": it counts as a "
                       "difference!\n"
                       "WARNING: Not following symbolic link \"new/data/root\": it counts as a "
                       "difference!\n"
                       "WARNING: Not reading \"new/fifo\", which is no regular file: it counts as "
                       "a difference!\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(DiffFixture, NamesAreEscapedOnATerminal) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "pseudo-terminals are POSIX";
    }
    PseudoTerminal pty = OpenPseudoTerminal();
    RunOptions options;
    options.stdout_fd = pty.terminal;
    EXPECT_EQ(Kestrun({"--diff", "old.rbd", "odd.rbd", "e*"}, options).status, 2);
    EXPECT_EQ(DrainPseudoTerminal(pty), "A\te\\x1b[2J/n\n");
}

} // namespace

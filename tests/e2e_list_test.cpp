// --list: every entry in index order, nothing written, messages apart from
// the data. The JSON lines of --json are checked in e2e_json_test.cpp.
#include "e2e.h"

namespace {

using ListTest = ExtractTest;

TEST_F(ListTest, ListShowsSizeAndPathOfEveryEntryAndWritesNothing) {
    for (const char *option : {"-l", "--list"}) {
        RunResult run = RunWith(SoundAndText(), {option, "pkg.rbd"});
        EXPECT_EQ(run.out, "         4  data/snd/a.wav\n"
                           "         2  data/snd/b.wav\n"
                           "         8  data/txt/readme.txt\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});
    }
}

TEST_F(ListTest, ListOfChosenMembersWarnsOnStandardErrorAboutPatternsThatMatchNothing) {
    RunResult run = RunWith(SoundAndText(), {"-l", "pkg.rbd", "data/s?d/[!b]*", "*.txt", "none"});
    EXPECT_EQ(run.out, "         4  data/snd/a.wav\n"
                       "         8  data/txt/readme.txt\n");
    EXPECT_EQ(run.err, "WARNING: No entry matches \"none\"!\n");
    EXPECT_EQ(run.status, 2);
}

} // namespace

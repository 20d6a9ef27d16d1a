// --list: every entry in index order, nothing written, messages apart from
// the data. The JSON lines of --json are checked in e2e_json_test.cpp.
#include "e2e.h"

#include <cstdlib>
#include <filesystem>

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

// Every face names an entry by the path that extraction writes below the
// output root, whatever empty group names the package spells; the classic
// run alone shows the package's own group paths, as it always has.
TEST_F(ListTest, EmptyGroupNamesAreListedAndChosenWhereExtractionWritesThem) {
    const PackLayout layout = EmptyGroupNames();
    RunResult classic = RunWith(layout, {"pkg.rbd"});
    EXPECT_EQ(classic.out, kBanner + WritingLine("/etc/", "passwd") + WritingLine("a/", "x") +
                               WritingLine("a//", "x") + WritingLine("/", "a/x") +
                               "WARNING: Refusing unsafe path, \"/a/x\"!\n"
                               "Reached end of package indices.\nDone!\n");
    EXPECT_EQ(classic.status, 2);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"a/", "a/x", "etc/", "etc/passwd"}));
    EXPECT_EQ(ReadFile(Work("pkg/a/x")), "a//x, written over a/x\n");
    ExpectNothingOutsideWork();

    EXPECT_EQ(RunWith(layout, {"-l", "pkg.rbd"}).out, "        15  etc/passwd\n"
                                                      "        14  a/x\n"
                                                      "        23  a/x\n"
                                                      "        24  a/x\n");
    std::vector<uint64_t> at = LayOutData(layout);
    auto line = [&](const char *group, const char *name, size_t size, size_t record) {
        return "{\"path\":\"" + std::string(group) + name + "\",\"group\":\"" + group +
               "\",\"name\":\"" + name + "\",\"size\":" + std::to_string(size) +
               ",\"offset\":" + std::to_string(at[record]) + "}\n";
    };
    std::string json = RunWith(layout, {"--json", "pkg.rbd"}).out;
    EXPECT_EQ(json.substr(0, json.find("{\"entries\"")),
              line("etc/", "passwd", 15, 2) + line("a/", "x", 14, 4) + line("a/", "x", 23, 7) +
                  line("", "a/x", 24, 9));

    // Only what the extraction left is summed: the last a/x, which the
    // unsafe one after it does not replace; sha256sum -c passes on it.
    RunResult sums = RunWith(layout, {"-l", "--sha256", "pkg.rbd"});
    EXPECT_EQ(sums.status, 0);
    EXPECT_EQ(sums.out,
              "25d6ed56d964d4fc33d4779bc67aac8b688728d365ad854530e7718a1f4b0270  etc/passwd\n"
              "dc5defcea1934ddcdd3e62f355288965fd43fdee95bd9d8ed3852fda5d280211  a/x\n");
    ASSERT_TRUE(WriteBytes(Work("sums"), sums.out));
    std::string check = "cd '" + Work("pkg") + "' && sha256sum --quiet --strict -c ../sums";
    EXPECT_EQ(std::system(check.c_str()), 0);

    // Members and exclusions match those paths.
    RunResult chosen = RunWith(layout, {"-l", "--exclude", "a", "pkg.rbd", "etc/passwd", "/etc"});
    EXPECT_EQ(chosen.out, "        15  etc/passwd\n");
    EXPECT_EQ(chosen.err, "WARNING: No entry matches \"/etc\"!\n");
    std::filesystem::remove_all(Work("pkg"));
    RunResult member = RunWith(layout, {"-x", "pkg.rbd", "etc"});
    EXPECT_EQ(member.out,
              WritingLine("etc/", "passwd") + "Reached end of package indices.\nDone!\n");
    EXPECT_EQ(member.status, 0);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"etc/", "etc/passwd"}));
}

} // namespace

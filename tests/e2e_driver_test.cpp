// The command line: banner, usage, finding the package and naming the output
// root after it.
#include "e2e.h"

#include <filesystem>

namespace {

PackLayout OneFile() {
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 1), FileEntry("boom.wav", "BOOM")};
    return layout;
}

const char kOneFileRun[] = "Writing \"%s/sfx/boom.wav\"...\n"
                           "Reached end of package indices.\n"
                           "Done!\n";

std::string OneFileRun(const std::string &root) {
    std::string text = kOneFileRun;
    return text.replace(text.find("%s"), 2, root);
}

using DriverTest = ExtractTest;

TEST_F(DriverTest, NoArgumentPrintsBannerAndUsage) {
    RunResult run = RunKestrun(scratch_ / "work", {});
    EXPECT_EQ(run.out, std::string(kBanner) + "Usage: kestrun \"input.rbd\"\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

// The system's words for a failure: the C library's on POSIX systems, the
// system message table's (as Wine words it) for the Windows build.
std::string SystemText(const char *posix, const char *windows) {
    return RunsWindowsBuild() ? windows : posix;
}

TEST_F(DriverTest, MissingPackageIsFatal) {
    RunResult run = RunKestrun(scratch_ / "work", {"absent.rbd"});
    EXPECT_EQ(run.out, std::string(kBanner) + "ERROR: Failed to find \"absent.rbd\", aborting!\n" +
                           SystemText("No such file or directory", "File not found.") + "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{});
}

TEST_F(DriverTest, DirectoryIsNotAPackage) {
    std::filesystem::create_directory(Work("dir.rbd"));
    RunResult run = RunKestrun(scratch_ / "work", {"dir.rbd"});
    EXPECT_EQ(run.out, std::string(kBanner) + "ERROR: Failed to find \"dir.rbd\", aborting!\n" +
                           SystemText("Is a directory", "Directory name invalid.") + "\n");
    EXPECT_EQ(run.status, 1);
}

TEST_F(DriverTest, OutputRootIsInWorkingDirectoryNotBesideThePackage) {
    std::filesystem::create_directory(Work("archive"));
    ASSERT_TRUE(WriteBytes(Work("archive/sound.rbd"), BuildPackage(OneFile())));
    RunResult run = RunKestrun(scratch_ / "work", {"archive/sound.rbd"});
    EXPECT_EQ(run.out, kBanner + OneFileRun("sound"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("sound/sfx/boom.wav")), "BOOM");
    EXPECT_FALSE(std::filesystem::exists(Work("archive/sound")));
}

TEST_F(DriverTest, AnyFourCharacterExtensionIsCut) {
    RunResult run = RunLayout(OneFile(), "music.pak");
    EXPECT_EQ(run.out, kBanner + OneFileRun("music"));
    EXPECT_EQ(ReadFile(Work("music/sfx/boom.wav")), "BOOM");
}

TEST_F(DriverTest, FourCharacterNameExtractsIntoWorkingDirectory) {
    RunResult run = RunLayout(OneFile(), "x.rb");
    EXPECT_EQ(run.out, kBanner + OneFileRun(""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("sfx/boom.wav")), "BOOM");
}

TEST_F(DriverTest, LongestPackageNameIsAccepted) {
    std::string name(63, 'n');
    RunResult run = RunLayout(OneFile(), name + ".rbd");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work(name + "/sfx/boom.wav")), "BOOM");
}

TEST_F(DriverTest, UnusablePackageNamesAreRefusedBeforeLoading) {
    for (const std::string &name :
         std::vector<std::string>{"abc", "..rbd", "...rbd", std::string(64, 'n') + ".rbd"}) {
        SCOPED_TRACE(name);
        RunResult run = RunLayout(OneFile(), name);
        EXPECT_EQ(run.out, kBanner + ("ERROR: Invalid package name \"" + name + "\", aborting!\n"));
        EXPECT_EQ(run.status, 1);
        std::filesystem::remove(Work(name));
        EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{});
    }
}

} // namespace

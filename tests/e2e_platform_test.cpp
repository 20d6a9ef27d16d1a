// Names whose safety depends on the platform, and package paths in Windows
// form. Each test runs against the build it is about and is skipped for the
// other one.
#include "e2e.h"

#include <algorithm>
#include <filesystem>

namespace {

using PlatformTest = ExtractTest;

const char kTail[] = "Reached end of package indices.\nDone!\n";

// Names that Windows would turn into a device, trim, or read as a stream of
// another file: unsafe there, ordinary everywhere else.
const std::vector<std::string> kWindowsOnlyUnsafe = {
    "CON",  "prn",      "Aux",       "nul.txt",   "NUL.tar.gz", "com1", "COM9.log", "lpt1",
    "Lpt9", "aux .txt", "trailing.", "trailing ", "...",        "ab:c", "1:x",      "ab:"};

// Close to the names above, but no device and nothing Windows alters.
const std::vector<std::string> kSafeEverywhere = {"COM10",     "LPT0", "CONSOLE", "nul_x",
                                                  "con-1.txt", ".con", "a.b"};

PackLayout GroupOf(const std::string &group, const std::vector<std::string> &names) {
    PackLayout layout;
    layout.entries.push_back(FileGroup(group, static_cast<uint32_t>(names.size())));
    for (const std::string &name : names) {
        layout.entries.push_back(FileEntry(name, "data of " + name));
    }
    return layout;
}

std::vector<std::string> AllNames() {
    std::vector<std::string> names = kWindowsOnlyUnsafe;
    names.insert(names.end(), kSafeEverywhere.begin(), kSafeEverywhere.end());
    return names;
}

TEST_F(PlatformTest, WindowsDeviceAndTrimmedNamesAreOrdinaryOnPosix) {
    if (RunsWindowsBuild()) {
        GTEST_SKIP() << "these names are refused on Windows (see the next test)";
    }
    RunResult run = RunLayout(GroupOf("g", AllNames()));
    std::string expected = kBanner;
    std::vector<std::string> tree = {"g/"};
    for (const std::string &name : AllNames()) {
        expected += WritingLine("g/", name);
        tree.push_back("g/" + name);
    }
    EXPECT_EQ(run.out, expected + kTail);
    EXPECT_EQ(run.status, 0);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(Tree(), tree);
    for (const std::string &name : AllNames()) {
        EXPECT_EQ(ReadFile(Work("pkg/g/" + name)), "data of " + name) << name;
    }
}

TEST_F(PlatformTest, WindowsDeviceAndTrimmedNamesAreRefusedOnWindows) {
    if (!RunsWindowsBuild()) {
        GTEST_SKIP() << "Windows rules; runs against the Windows build under Wine";
    }
    RunResult run = RunLayout(GroupOf("g", AllNames()));
    std::string expected = kBanner;
    for (const std::string &name : kWindowsOnlyUnsafe) {
        expected +=
            WritingLine("g/", name) + "WARNING: Refusing unsafe path, \"g/" + name + "\"!\n";
    }
    std::vector<std::string> tree = {"g/"};
    for (const std::string &name : kSafeEverywhere) {
        expected += WritingLine("g/", name);
        tree.push_back("g/" + name);
    }
    EXPECT_EQ(run.out, expected + kTail);
    EXPECT_EQ(run.status, 2);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(Tree(), tree);
    ExpectNothingOutsideWork();
}

TEST_F(PlatformTest, GroupNamedAfterADeviceIsRefusedOnWindowsOnly) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("aux", 1), FileGroup("sub", 1), FileEntry("a", "1"),
                      FileGroup("ok", 1), FileEntry("b", "2")};
    RunResult run = RunLayout(layout);
    std::string refusal =
        RunsWindowsBuild() ? "WARNING: Refusing unsafe path, \"aux/sub/a\"!\n" : "";
    EXPECT_EQ(run.out,
              kBanner + WritingLine("aux/sub/", "a") + refusal + WritingLine("ok/", "b") + kTail);
    EXPECT_EQ(run.status, RunsWindowsBuild() ? 2 : 0);
    EXPECT_EQ(ReadFile(Work("pkg/ok/b")), "2");
    EXPECT_EQ(std::filesystem::exists(Work("pkg/aux/sub/a")), !RunsWindowsBuild());
}

TEST_F(PlatformTest, PackagePathWithBackslashesOnWindows) {
    if (!RunsWindowsBuild()) {
        GTEST_SKIP() << "a backslash separates directories on Windows only";
    }
    std::filesystem::create_directories(Work("games/sub"));
    ASSERT_TRUE(WriteBytes(Work("games/sub/music.rbd"), BuildPackage(GroupOf("g", {"f"}))));
    RunResult run = RunKestrun(scratch_ / "work", {"games\\sub\\music.rbd"});
    EXPECT_EQ(run.out, kBanner + std::string("Writing \"music/g/f\"...\n") + kTail);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("music/g/f")), "data of f");
}

} // namespace

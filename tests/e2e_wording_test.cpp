// One wording of what extraction makes of an entry: the command line's
// option mode (`kestrun -q`, `kestrun -t`) and the library's reports
// (kr_extract and kr_test through tests/kr_extract_driver.c) tell every
// outcome in the same words, on a package that meets each of them.
#include "e2e.h"

#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kLong(60, 'L');

PackLayout EveryOutcome() {
    PackEntry gone = FileEntry("gone", "");
    gone.size = 10;
    gone.offset = 1u << 30; // past the package's end
    PackLayout layout;
    layout.entries = {FileGroup("data", 2),
                      FileEntry("..", "up"),
                      FileEntry("", "nameless"),
                      FileGroup("lnk", 1),
                      FileEntry("x", "x"),
                      FileGroup("blocked", 1),
                      FileEntry("y", "y"),
                      FileGroup("g", 3),
                      FileEntry("dir", "d"),
                      FileEntry("self.rbd", "s"),
                      gone,
                      DirectoryGroup(kLong + "1", 1),
                      DirectoryGroup(kLong + "2", 1),
                      DirectoryGroup(kLong + "3", 1),
                      FileGroup(kLong + "4", 1),
                      FileEntry(std::string(20, 'n'), "far")};
    return layout;
}

// What the output root holds before the run: a link, a file and a
// directory in the way, and the package under another name.
void LayTraps(const std::string &root, const std::string &package) {
    fs::create_directories(root + "/g/dir");
    fs::create_directory_symlink("/tmp", root + "/lnk");
    ASSERT_TRUE(WriteBytes(root + "/blocked", "file"));
    fs::create_hard_link(package, root + "/g/self.rbd");
}

// The phrases of the command line's warnings: "WARNING: <phrase>!".
std::vector<std::string> Warnings(const std::string &err) {
    std::vector<std::string> phrases;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("WARNING: ", 0), 0u) << line;
        EXPECT_EQ(line.back(), '!') << line;
        phrases.push_back(line.substr(9, line.size() - 10));
    }
    return phrases;
}

// The phrases of the driver's reports: "<code> <path>: <phrase>".
std::vector<std::string> Reports(const std::string &out) {
    std::vector<std::string> phrases;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("KR_OK ", 0) == 0 || line.rfind("= ", 0) == 0) {
            continue;
        }
        size_t colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        phrases.push_back(line.substr(colon + 2));
    }
    return phrases;
}

// The library's phrases, cut to fit kr_error.message as the long path's is.
std::vector<std::string> CutToMessage(std::vector<std::string> phrases) {
    for (std::string &phrase : phrases) {
        phrase = phrase.substr(0, 255); // kr_error.message: 256 bytes with the zero
    }
    return phrases;
}

using WordingTest = ExtractTest;

TEST_F(WordingTest, LibraryAndCommandLineWordEveryOutcomeAlike) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "links as POSIX has them";
    }
    const std::string far =
        kLong + "1/" + kLong + "2/" + kLong + "3/" + kLong + "4/" + std::string(20, 'n');
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(EveryOutcome())));

    // Meeting the entries, with nothing on disk.
    RunResult checked = RunKestrun(scratch_ / "work", {"-t", "pkg.rbd"});
    RunResult tested = RunProgram("KR_DRIVER_BIN", scratch_ / "work", {"--test", "pkg.rbd"});
    const std::vector<std::string> met = {
        "Refusing unsafe path, \"data/..\"",
        "Failed to write to destination, \"data/\": the name is empty",
        "Failed to read in data, \"g/gone\"",
        "Path too long, \"" + far + "\"",
    };
    EXPECT_EQ(Warnings(checked.err), met);
    EXPECT_EQ(Reports(tested.out), CutToMessage(met));
    EXPECT_EQ(checked.status, 2);
    EXPECT_EQ(tested.status, 2);

    // Writing them, over what lies in the way.
    LayTraps(Work("pkg"), Work("pkg.rbd"));
    RunResult extracted = RunKestrun(scratch_ / "work", {"-q", "pkg.rbd"});
    fs::remove_all(Work("pkg"));
    LayTraps(Work("pkg"), Work("pkg.rbd"));
    RunResult library = RunProgram("KR_DRIVER_BIN", scratch_ / "work", {"pkg.rbd", "pkg"});
    const std::vector<std::string> written = {
        "Refusing unsafe path, \"data/..\"",
        "Failed to write to destination, \"data/\": the name is empty",
        "Refusing to extract through a link, \"lnk/x\"",
        "Failed to create path, \"blocked/y\": Not a directory",
        "Failed to write to destination, \"g/dir\": Is a directory",
        "Refusing to overwrite the package, \"g/self.rbd\"",
        "Failed to read in data, \"g/gone\"",
        "Path too long, \"" + far + "\"",
    };
    EXPECT_EQ(Warnings(extracted.err), written);
    EXPECT_EQ(Reports(library.out), CutToMessage(written));
    EXPECT_EQ(extracted.status, 2);
    EXPECT_EQ(library.status, 2);
}

} // namespace

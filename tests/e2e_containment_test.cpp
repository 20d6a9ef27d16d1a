// What the output tree may already hold: links, special files and other names
// of the package are never followed, opened or overwritten; and the output
// budget of a package whose records share their data. Every case runs twice:
// through the command line, and through the library's kr_extract and kr_test
// (tests/kr_extract_driver.c), each with one worker and with four (-j,
// kr_extract_options.threads). All must write the same tree and refuse the
// same entries; each face tells of them in its own words.
#include "e2e.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class Extractor { kCommandLine, kLibrary };

struct Extraction {
    Extractor extractor;
    int workers;
};

std::string NameOf(const Extraction &extraction) {
    return std::string(extraction.extractor == Extractor::kLibrary ? "kr_extract" : "kestrun") +
           "_workers" + std::to_string(extraction.workers);
}

// Names the parameter in the tests' names, in place of its bytes.
void PrintTo(const Extraction &extraction, std::ostream *out) {
    *out << NameOf(extraction);
}

// What became of one entry.
enum class Outcome { kWritten, kThroughLink, kIsPackage, kWriteFailed, kOverBudget };

struct EntryOutcome {
    std::string group; // "g/"
    std::string name;
    Outcome outcome;
};

const char kTail[] = "Reached end of package indices.\nDone!\n";

class ContainmentTest : public ExtractTest, public ::testing::WithParamInterface<Extraction> {
  protected:
    void SetUp() override {
        ExtractTest::SetUp();
        // The workers of the command line's classic run and of the driver.
        std::string workers = std::to_string(GetParam().workers);
        setenv("KESTRUN_JOBS", workers.c_str(), 1);
        setenv("KR_DRIVER_THREADS", workers.c_str(), 1);
    }

    bool ThroughLibrary() const {
        return GetParam().extractor == Extractor::kLibrary;
    }

    // Extracts work/<package> from work/ into ./<root>/, as `kestrun PACKAGE`
    // does; the library is given <root> as its output directory.
    RunResult Extract(const std::string &package, const std::string &root,
                      const RunOptions &options = {}) {
        if (ThroughLibrary()) {
            return RunProgram("KR_DRIVER_BIN", scratch_ / "work", {package, root}, options);
        }
        return RunKestrun(scratch_ / "work", {package}, options);
    }

    // What an extraction into <root> prints when its entries fare as
    // `outcomes`; `budget` is the budget that a kOverBudget entry meets.
    std::string Expected(const std::string &root, const std::vector<EntryOutcome> &outcomes,
                         uint64_t budget = 0) const {
        std::string text = ThroughLibrary() ? "" : kBanner;
        bool complete = true;
        for (const EntryOutcome &entry : outcomes) {
            text += ThroughLibrary() ? LibraryLine(entry, budget)
                                     : CommandLineLines(root, entry, budget);
            complete = complete && entry.outcome == Outcome::kWritten;
            if (entry.outcome == Outcome::kOverBudget) {
                return ThroughLibrary()
                           ? text + "= KR_E_BUDGET: " + BudgetText(entry, budget) + "\n"
                           : text;
            }
        }
        if (ThroughLibrary()) {
            return text + (complete ? "= KR_OK\n" : "= KR_INCOMPLETE\n");
        }
        return text + kTail;
    }

    static std::string BudgetText(const EntryOutcome &entry, uint64_t budget) {
        return "Output would pass " + std::to_string(budget) + " bytes with \"" + entry.group +
               entry.name + "\"";
    }

    static std::string LibraryLine(const EntryOutcome &entry, uint64_t budget) {
        std::string path = entry.group + entry.name;
        switch (entry.outcome) {
        case Outcome::kWritten:
            return "KR_OK " + path + "\n";
        case Outcome::kThroughLink:
            return "KR_E_UNSAFE " + path + ": Refusing to extract through a link, \"" + path +
                   "\"\n";
        case Outcome::kIsPackage:
            return "KR_E_UNSAFE " + path + ": Refusing to overwrite the package, \"" + path +
                   "\"\n";
        case Outcome::kWriteFailed:
            return "KR_E_IO " + path + ": Failed to write to destination, \"" + path +
                   "\": File too large\n";
        case Outcome::kOverBudget:
            break;
        }
        return "KR_E_BUDGET " + path + ": " + BudgetText(entry, budget) + "\n";
    }

    static std::string CommandLineLines(const std::string &root, const EntryOutcome &entry,
                                        uint64_t budget) {
        std::string output_path = root + "/" + entry.group + entry.name;
        std::string text = "Writing \"" + output_path + "\"...\n";
        switch (entry.outcome) {
        case Outcome::kWritten:
            return text;
        case Outcome::kThroughLink:
            return text + "WARNING: Refusing to extract through a link, \"" + entry.group + "\"!\n";
        case Outcome::kIsPackage:
            return text + "WARNING: Refusing to overwrite the package, \"./" + output_path +
                   "\"!\n";
        case Outcome::kWriteFailed:
            return text + "WARNING: Failed to write to destination, \"./" + output_path + "\"!\n";
        case Outcome::kOverBudget:
            break;
        }
        return text + "ERROR: Output would pass " + std::to_string(budget) +
               " bytes (64 times the package plus 1 GiB), aborting!\n";
    }
};

INSTANTIATE_TEST_SUITE_P(
    , ContainmentTest,
    ::testing::Values(Extraction{Extractor::kCommandLine, 1}, Extraction{Extractor::kLibrary, 1},
                      Extraction{Extractor::kCommandLine, 4}, Extraction{Extractor::kLibrary, 4}),
    [](const ::testing::TestParamInfo<Extraction> &param) { return NameOf(param.param); });

bool IsRegularFile(const std::string &path) {
    return fs::is_regular_file(fs::symlink_status(path));
}

TEST_P(ContainmentTest, WhatHasAnEntrysNameIsReplacedNeverFollowedOrOpened) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links, hard links and FIFOs as POSIX has them";
    }
    fs::create_directories(Work("pkg/g"));
    fs::create_directory(Work("elsewhere"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/target"), "keep"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/linked"), "keep too"));
    fs::create_symlink("../../elsewhere/target", Work("pkg/g/link"));
    fs::create_symlink("../../elsewhere/missing", Work("pkg/g/dangling"));
    fs::create_hard_link(Work("elsewhere/linked"), Work("pkg/g/hard"));
    ASSERT_EQ(mkfifo(Work("pkg/g/fifo").c_str(), 0666), 0);
    PackLayout layout;
    layout.entries = {FileGroup("g", 4), FileEntry("link", "new link"),
                      FileEntry("dangling", "new dangling"), FileEntry("hard", "new hard"),
                      FileEntry("fifo", "new fifo")};
    RunOptions options;
    options.timeout_seconds = 20; // an open of the FIFO would block for ever
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    RunResult run = Extract("pkg.rbd", "pkg", options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.out, Expected("pkg", {{"g/", "link", Outcome::kWritten},
                                        {"g/", "dangling", Outcome::kWritten},
                                        {"g/", "hard", Outcome::kWritten},
                                        {"g/", "fifo", Outcome::kWritten}}));
    EXPECT_EQ(run.status, 0);
    for (const char *name : {"link", "dangling", "hard", "fifo"}) {
        // Read only what is a file: reading a FIFO would block the test.
        ASSERT_TRUE(IsRegularFile(Work("pkg/g/") + name)) << name;
        EXPECT_EQ(ReadFile(Work("pkg/g/") + name), std::string("new ") + name);
    }
    EXPECT_EQ(ReadFile(Work("elsewhere/target")), "keep");
    EXPECT_EQ(ReadFile(Work("elsewhere/linked")), "keep too");
    EXPECT_EQ(ListTree(Work("elsewhere")), (std::vector<std::string>{"linked", "target"}));
    ExpectNothingOutsideWork();
}

// Each run twice: the kernel's openat2 where it exists, and the walk one name
// at a time that serves kernels without it.
std::vector<RunOptions> BothWaysOfOpening() {
    std::vector<RunOptions> ways(1);
#if defined(__linux__) && defined(__x86_64__)
    ways.emplace_back();
    ways.back().without_openat2 = true;
#endif
    return ways;
}

TEST_P(ContainmentTest, LinksOnTheWayToAnEntryAreRefused) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links as POSIX has them";
    }
    for (const RunOptions &options : BothWaysOfOpening()) {
        SCOPED_TRACE(options.without_openat2 ? "without openat2" : "with openat2");
        fs::create_directories(Work("pkg"));
        fs::create_directories(Work("elsewhere"));
        fs::create_directory_symlink("../elsewhere", Work("pkg/d"));
        fs::create_directory_symlink("elsewhere", Work("root"));
        PackLayout layout;
        layout.entries = {DirectoryGroup("d", 1), FileGroup("sub", 1), FileEntry("x", "1"),
                          FileGroup("d", 2),      FileEntry("y", "2"), FileEntry("z", "3"),
                          DirectoryGroup("g", 1), FileGroup("h", 1),   FileEntry("ok", "4")};
        ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
        RunResult run = Extract("pkg.rbd", "pkg", options);
        EXPECT_EQ(run.out, Expected("pkg", {{"d/sub/", "x", Outcome::kThroughLink},
                                            {"d/", "y", Outcome::kThroughLink},
                                            {"d/", "z", Outcome::kThroughLink},
                                            {"g/h/", "ok", Outcome::kWritten}}));
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(ReadFile(Work("pkg/g/h/ok")), "4");
        EXPECT_TRUE(ListTree(Work("elsewhere")).empty());

        // The output root itself a link: root.rbd extracts into ./root/. The
        // command line opens its root below the working directory and refuses
        // the link; a caller of kr_extract names the directory itself, which
        // is followed as given.
        layout.entries = {FileGroup("g", 1), FileEntry("a", "1")};
        ASSERT_TRUE(WriteBytes(Work("root.rbd"), BuildPackage(layout)));
        run = Extract("root.rbd", "root", options);
        if (ThroughLibrary()) {
            EXPECT_EQ(run.out, Expected("root", {{"g/", "a", Outcome::kWritten}}));
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(ReadFile(Work("elsewhere/g/a")), "1");
        } else {
            EXPECT_EQ(run.out, Expected("root", {{"g/", "a", Outcome::kThroughLink}}));
            EXPECT_EQ(run.status, 2);
            EXPECT_TRUE(ListTree(Work("elsewhere")).empty());
        }
        ExpectNothingOutsideWork();
        fs::remove_all(Work("elsewhere"));
        fs::remove_all(Work("pkg"));
        fs::remove(Work("root"));
    }
}

TEST_P(ContainmentTest, ThePackageIsNeverReplacedUnderAnotherNameOrThroughALink) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "symbolic links and hard links as POSIX has them";
    }
    PackLayout layout;
    layout.entries = {FileGroup("g", 3), FileEntry("hard.rbd", "clobbered"),
                      FileEntry("soft.rbd", "a file now"), FileEntry("after", "read")};
    std::string bytes = BuildPackage(layout);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), bytes));
    fs::create_directories(Work("pkg/g"));
    fs::create_hard_link(Work("pkg.rbd"), Work("pkg/g/hard.rbd"));
    fs::create_symlink("../../pkg.rbd", Work("pkg/g/soft.rbd"));
    RunResult run = Extract("pkg.rbd", "pkg");
    EXPECT_EQ(run.out, Expected("pkg", {{"g/", "hard.rbd", Outcome::kIsPackage},
                                        {"g/", "soft.rbd", Outcome::kWritten},
                                        {"g/", "after", Outcome::kWritten}}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg.rbd")), bytes);
    EXPECT_EQ(ReadFile(Work("pkg/g/hard.rbd")), bytes);
    EXPECT_TRUE(IsRegularFile(Work("pkg/g/soft.rbd")));
    EXPECT_EQ(ReadFile(Work("pkg/g/soft.rbd")), "a file now");
    EXPECT_EQ(ReadFile(Work("pkg/g/after")), "read");

    // music/lnk/music.rbd, with music/lnk a link to the package's folder:
    // the output root holds the link that leads back to the package.
    layout.entries = {FileGroup("lnk", 1), FileEntry("music.rbd", "clobbered")};
    bytes = BuildPackage(layout);
    fs::create_directories(Work("store"));
    ASSERT_TRUE(WriteBytes(Work("store/music.rbd"), bytes));
    fs::create_directories(Work("music"));
    fs::create_directory_symlink("../store", Work("music/lnk"));
    run = Extract("music/lnk/music.rbd", "music");
    EXPECT_EQ(run.out, Expected("music", {{"lnk/", "music.rbd", Outcome::kThroughLink}}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("store/music.rbd")), bytes);
    ExpectNothingOutsideWork();
}

TEST_P(ContainmentTest, OutputPastTheBudgetEndsTheRunAndKeepsWhatCameBefore) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "file size limits are a POSIX process limit";
    }
    // After one small entry, every record holds the same 1 MiB: the package is
    // about 1.1 MiB, the budget 64 times that plus 1 GiB. A file size limit
    // makes each large entry fail after a few bytes, so that the test need
    // not write a gigabyte: an entry's size is charged before it is copied,
    // whether the copy then succeeds or not.
    const uint32_t count = 1200;
    const uint32_t mib = 1u << 20;
    PackLayout layout;
    layout.entries = {FileGroup("g", count + 1), FileEntry("kept", "stays")};
    for (uint32_t i = 0; i < count; ++i) {
        layout.entries.push_back(FileEntry("f" + std::to_string(10000 + i), ""));
        layout.entries.back().offset = 1024 + 96 * (count + 2) + 5;
        layout.entries.back().size = mib;
    }
    layout.entries.back().data = std::string(mib, 's');
    layout.entries.back().size.reset();
    std::string bytes = BuildPackage(layout);
    ASSERT_EQ(bytes.size(), 1024u + 96 * (count + 2) + 5 + mib);
    const uint64_t budget = 64 * uint64_t{bytes.size()} + (uint64_t{1} << 30);
    const uint32_t charged = static_cast<uint32_t>((budget - 5) / mib);
    ASSERT_LT(charged, count);

    RunOptions options;
    options.file_size_limit = 4096;
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), bytes));
    RunResult run = Extract("pkg.rbd", "pkg", options);
    std::vector<EntryOutcome> outcomes = {{"g/", "kept", Outcome::kWritten}};
    for (uint32_t i = 0; i <= charged; ++i) {
        outcomes.push_back({"g/", "f" + std::to_string(10000 + i),
                            i < charged ? Outcome::kWriteFailed : Outcome::kOverBudget});
    }
    EXPECT_EQ(run.out, Expected("pkg", outcomes, budget));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/kept"}));
    EXPECT_EQ(ReadFile(Work("pkg/g/kept")), "stays");
    ExpectNothingOutsideWork();

    // --test (kr_test) meets the same budget, without writing anything; the
    // command line tells only of the stop, on standard error.
    RunResult test = ThroughLibrary()
                         ? RunProgram("KR_DRIVER_BIN", scratch_ / "work", {"--test", "pkg.rbd"})
                         : RunKestrun(scratch_ / "work", {"--test", "pkg.rbd"});
    if (ThroughLibrary()) {
        for (EntryOutcome &entry : outcomes) {
            if (entry.outcome == Outcome::kWriteFailed) {
                entry.outcome = Outcome::kWritten;
            }
        }
        EXPECT_EQ(test.out, Expected("pkg", outcomes, budget));
    } else {
        EXPECT_EQ(test.err, "ERROR: Output would pass " + std::to_string(budget) +
                                " bytes (64 times the package plus 1 GiB), aborting!\n");
    }
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"g/", "g/kept"}));
}

// Wine maps the Windows build's files onto the Unix file system, where a
// symbolic link looks like what it leads to: a file link passes for a plain
// file (and removing it removes its target), and a directory link opened by
// handle shows no reparse point.
// The command line only: the library's cases run natively.
using WineContainmentTest = ExtractTest;

TEST_F(WineContainmentTest, UnderWineLinksAreNeitherRemovedNorFollowed) {
    if (!RunsWindowsBuild()) {
        GTEST_SKIP() << "the Windows build under Wine";
    }
    fs::create_directories(Work("pkg/g"));
    fs::create_directory(Work("elsewhere"));
    ASSERT_TRUE(WriteBytes(Work("elsewhere/target"), "keep"));
    ASSERT_TRUE(WriteBytes(Work("pkg/g/plain"), "older"));
    fs::create_symlink("../../elsewhere/target", Work("pkg/g/link"));
    fs::create_directory_symlink("../elsewhere", Work("pkg/d"));
    PackLayout layout;
    layout.entries = {FileGroup("d", 1),
                      FileEntry("x", "through the link"),
                      FileGroup("g", 3),
                      FileEntry("link", "new link"),
                      FileEntry("plain", "new plain"),
                      FileEntry("fresh", "new")};
    RunResult run = RunLayout(layout);
    EXPECT_EQ(run.out, kBanner + WritingLine("d/", "x") +
                           "WARNING: Refusing to extract through a link, \"d/\"!\n" +
                           WritingLine("g/", "link") +
                           "WARNING: Refusing to replace \"./pkg/g/link\" under Wine, which "
                           "can't tell a link from a file!\n" +
                           WritingLine("g/", "plain") +
                           "WARNING: Refusing to replace \"./pkg/g/plain\" under Wine, which "
                           "can't tell a link from a file!\n" +
                           WritingLine("g/", "fresh") + kTail);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ListTree(Work("elsewhere")), std::vector<std::string>{"target"});
    EXPECT_EQ(ReadFile(Work("elsewhere/target")), "keep");
    EXPECT_TRUE(fs::is_symlink(Work("pkg/g/link")));
    EXPECT_EQ(ReadFile(Work("pkg/g/plain")), "older");
    EXPECT_EQ(ReadFile(Work("pkg/g/fresh")), "new");
    ExpectNothingOutsideWork();
}

} // namespace

// The habits of tar and unzip users: members after the package, messages
// apart from the output, bundled options, -k, --exclude, -d, the status line,
// --sha256, the package as -t's destination, and a run ended by a signal.
#include "e2e.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using HabitsTest = ExtractTest;

const char kTail[] = "Reached end of package indices.\nDone!\n";
const char kPointer[] = "Try \"kestrun --help\" for more information.\n";
const char kTested[] =
    "Tested: entries 3, groups 3, bytes 14, package bytes 1614, expansion 0.01\n";

std::string Writing(const std::string &entry) {
    return "Writing \"pkg/" + entry + "\"...\n";
}

// The system's words: the C library's, or Wine's for the Windows build.
std::string SystemText(const char *posix, const char *windows) {
    return RunsWindowsBuild() ? windows : posix;
}

TEST_F(HabitsTest, WordsAfterThePackageAreMembersAndOptionsThereAreRefused) {
    RunResult run = RunWith(SoundAndText(), {"pkg.rbd", "data/txt/readme.txt"});
    EXPECT_EQ(run.out, kBanner + Writing("data/txt/readme.txt") + kTail);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Tree(), (std::vector<std::string>{"data/", "data/txt/", "data/txt/readme.txt"}));
    fs::remove_all(Work("pkg"));

    // An option after the package would have been a member: one error, and
    // nothing is written, in either mode.
    run = RunWith(SoundAndText(), {"pkg.rbd", "data", "-t"});
    EXPECT_EQ(run.out, kBanner + std::string("ERROR: Option \"-t\" comes after the package; "
                                             "options go before it!\n"));
    EXPECT_EQ(run.status, 1);
    run = RunWith(SoundAndText(), {"-q", "pkg.rbd", "-C", "elsewhere"});
    EXPECT_EQ(run.err, "ERROR: Option \"-C\" comes after the package; options go before it!\n" +
                           std::string(kPointer));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"pkg.rbd"});

    // Any other word with a dash is a member, with a hint when it matches nothing.
    run = RunWith(SoundAndText(), {"pkg.rbd", "-zz"});
    EXPECT_EQ(run.out, kBanner + std::string("Reached end of package indices.\n"
                                             "WARNING: No entry matches \"-zz\" (options go "
                                             "before the package)!\nDone!\n"));
    EXPECT_EQ(run.status, 2);
}

TEST_F(HabitsTest, OptionModeWarnsOnStandardErrorWithTheEntryAndTheReason) {
    if (RunsWindowsBuild()) {
        GTEST_SKIP() << "the reasons are POSIX's words";
    }
    // In the way: a directory where a file goes, a file where a group goes.
    fs::create_directories(Work("pkg/g/dir"));
    ASSERT_TRUE(WriteBytes(Work("pkg/h"), "a file"));
    PackLayout layout;
    layout.entries = {FileGroup("g", 3),    FileEntry("dir", "1"), FileEntry("..", "2"),
                      FileEntry("ok", "3"), FileGroup("h", 1),     FileEntry("x", "4")};
    RunResult run = RunWith(layout, {"-x", "pkg.rbd"});
    EXPECT_EQ(run.out,
              Writing("g/dir") + Writing("g/..") + Writing("g/ok") + Writing("h/x") + kTail);
    EXPECT_EQ(run.err, "WARNING: Failed to write to destination, \"g/dir\": Is a directory!\n"
                       "WARNING: Refusing unsafe path, \"g/..\"!\n"
                       "WARNING: Failed to create path, \"h/x\": Not a directory!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(Work("pkg/g/ok")), "3");
}

TEST_F(HabitsTest, AFileThatIsNoPackageIsNamedWithTheReason) {
    ASSERT_TRUE(WriteBytes(Work("x.tar"), "usr/share/doc/" + std::string(2048, '\0')));
    ASSERT_TRUE(WriteBytes(Work("short.rbd"), "RBD?"));
    fs::create_directory(Work("dir.rbd"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x.tar", "\"x.tar\" is not an RBD package (unknown version 0x7573)"},
        {"short.rbd", "\"short.rbd\" is not an RBD package (shorter than its 1024-byte header)"},
        {"dir.rbd", "\"dir.rbd\" is a directory, not an RBD package"},
        {"absent.rbd", "Failed to find \"absent.rbd\": " +
                           SystemText("No such file or directory", "File not found.")},
    };
    for (const auto &[package, message] : cases) {
        RunResult run = RunKestrun(scratch_ / "work", {"-l", package});
        EXPECT_EQ(run.err, "ERROR: " + message + ", aborting!\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
}

// A package is read at offsets: a FIFO (here with no writer, on which a
// blocking open would wait for ever) or a device is refused before any read.
TEST_F(HabitsTest, AFifoOrACharacterDeviceIsRefusedAtOnce) {
    if (RunsWindowsBuild()) {
        GTEST_SKIP() << "FIFOs and devices as POSIX has them";
    }
    ASSERT_EQ(mkfifo(Work("f.rbd").c_str(), 0600), 0);
    RunOptions options;
    options.timeout_seconds = 20;
    RunResult run = RunKestrun(scratch_ / "work", {"f.rbd"}, options);
    EXPECT_EQ(run.out,
              kBanner + std::string("ERROR: Failed to open package \"f.rbd\", aborting!\n"));
    EXPECT_EQ(run.status, 1);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-l", "f.rbd"}, "\"f.rbd\" is a FIFO"},
        {{"-xf", "f.rbd"}, "\"f.rbd\" is a FIFO"},
        {{"-i", "/dev/null"}, "\"/dev/null\" is a character device"},
    };
    for (const auto &[args, what] : cases) {
        run = RunKestrun(scratch_ / "work", args, options);
        EXPECT_EQ(run.err, "ERROR: " + what + ", not a regular file or block device, aborting!\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_EQ(ListTree(scratch_ / "work"), std::vector<std::string>{"f.rbd"});
}

TEST_F(HabitsTest, ShortOptionsBundle) {
    fs::create_directory(Work("out"));
    RunResult run = RunWith(SoundAndText(), {"-lq", "pkg.rbd", "data/txt"});
    EXPECT_EQ(run.out, "         8  data/txt/readme.txt\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(RunWith(SoundAndText(), {"-tq", "pkg.rbd"}).out, kTested);
    run = RunWith(SoundAndText(), {"-qC", "out", "pkg.rbd"});
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ReadFile(Work("out/pkg/data/snd/a.wav")), "aaaa");
    run = RunWith(SoundAndText(), {"-xv", "pkg.rbd", "data/snd/a.wav"});
    EXPECT_EQ(run.out, Writing("data/snd/a.wav") + kTail);
    // A first word that is no option is a package, as it always was.
    run = RunWith(SoundAndText(), {"-q", "-lz", "pkg.rbd"});
    EXPECT_EQ(run.err, "ERROR: Unknown option \"-lz\"!\n" + std::string(kPointer));
    EXPECT_EQ(run.status, 1);
}

// tar's -xf, -xvf and -lf: -f names the package among the options, and the
// words after them are member patterns.
TEST_F(HabitsTest, TarUsersNameThePackageWithF) {
    fs::create_directory(Work("out"));
    const std::string all =
        Writing("data/snd/a.wav") + Writing("data/snd/b.wav") + Writing("data/txt/readme.txt");
    RunResult run = RunWith(SoundAndText(), {"-xf", "pkg.rbd"});
    EXPECT_EQ(run.out, all + kTail);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("pkg/data/txt/readme.txt")), "read me\n");
    run = RunWith(SoundAndText(), {"-xvf", "pkg.rbd", "-C", "out", "data/snd/b.wav"});
    EXPECT_EQ(run.out, Writing("data/snd/b.wav") + kTail);
    EXPECT_EQ(ListTree(Work("out")), (std::vector<std::string>{"pkg/", "pkg/data/", "pkg/data/snd/",
                                                               "pkg/data/snd/b.wav"}));
    run = RunWith(SoundAndText(), {"-lf", "pkg.rbd", "data/txt"});
    EXPECT_EQ(run.out, "         8  data/txt/readme.txt\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(RunWith(SoundAndText(), {"--file=pkg.rbd", "-t"}).out, kTested);
    EXPECT_EQ(RunWith(SoundAndText(), {"--file", "pkg.rbd", "--test"}).out, kTested);
}

TEST_F(HabitsTest, KeepOldFilesAndExclude) {
    fs::create_directories(Work("pkg/data/snd"));
    ASSERT_TRUE(WriteBytes(Work("pkg/data/snd/a.wav"), "modded"));
    RunResult run = RunWith(SoundAndText(), {"-k", "--exclude", "data/txt", "pkg.rbd"});
    EXPECT_EQ(run.out, "Keeping \"pkg/data/snd/a.wav\"\n" + Writing("data/snd/b.wav") + kTail);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("pkg/data/snd/a.wav")), "modded");
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"data/", "data/snd/", "data/snd/a.wav", "data/snd/b.wav"}));

    // Excludes apply after the members, in every mode; overwriting stays the
    // default (under Wine nothing this run did not make is replaced).
    run = RunWith(SoundAndText(), {"-l", "--exclude=*/b.wav", "pkg.rbd", "data/snd"});
    EXPECT_EQ(run.out, "         4  data/snd/a.wav\n");
    run = RunWith(SoundAndText(), {"-q", "--exclude", "data/txt", "pkg.rbd"});
    EXPECT_EQ(run.status, RunsWindowsBuild() ? 2 : 0);
    EXPECT_EQ(ReadFile(Work("pkg/data/snd/a.wav")), RunsWindowsBuild() ? "modded" : "aaaa");
    EXPECT_FALSE(fs::exists(Work("pkg/data/txt")));
}

TEST_F(HabitsTest, OutputRootIsTheDirectoryGiven) {
    RunResult run = RunWith(SoundAndText(), {"-d", "out", "pkg.rbd", "data/snd"});
    EXPECT_EQ(run.out, "Writing \"out/data/snd/a.wav\"...\nWriting \"out/data/snd/b.wav\"...\n" +
                           std::string(kTail));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListTree(Work("out")),
              (std::vector<std::string>{"data/", "data/snd/", "data/snd/a.wav", "data/snd/b.wav"}));
    EXPECT_FALSE(fs::exists(Work("pkg")));

    // Below -C's directory; and a package whose name could not name a root.
    fs::create_directory(Work("base"));
    fs::copy_file(Work("pkg.rbd"), Work("abc"));
    run = RunKestrun(scratch_ / "work", {"-qC", "base", "--output=out/", "abc"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Work("base/out/data/txt/readme.txt")), "read me\n");

    // The parent must exist.
    run = RunKestrun(scratch_ / "work", {"-d", "no/such", "pkg.rbd"});
    EXPECT_EQ(run.err, "ERROR: Failed to make directory \"no/such\": " +
                           SystemText("No such file or directory", "Path not found.") +
                           ", aborting!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Work("no")));
    ExpectNothingOutsideWork();
}

TEST_F(HabitsTest, StatusLineOnATerminalIsDrawnAndTakenAway) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "pseudo-terminals are POSIX";
    }
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(SoundAndText())));
    // Standard error a terminal; gives what it received.
    auto stderr_seen = [this](const std::vector<std::string> &args, std::string *out) {
        PseudoTerminal pty = OpenPseudoTerminal();
        RunOptions options;
        options.stderr_fd = pty.terminal;
        RunResult run = RunKestrun(scratch_ / "work", args, options);
        EXPECT_EQ(run.status, 0);
        if (out != nullptr) {
            *out = run.out;
        }
        return DrainPseudoTerminal(pty);
    };
    for (const char *option : {"-x", "-t", "-O"}) {
        std::string out;
        std::string err = stderr_seen({option, "pkg.rbd"}, &out);
        // Drawn at once with the index's total, taken away at the end, and
        // never a line of its own.
        EXPECT_EQ(err.rfind("\r  0%  0 B of 14 B  0 B/s  --:-- left\x1b[K", 0), 0u) << err;
        EXPECT_EQ(err.substr(err.size() - 4), "\r\x1b[K");
        EXPECT_EQ(err.find('\n'), std::string::npos);
        EXPECT_EQ(out.find('\r'), std::string::npos);
    }
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"-q", "pkg.rbd"}, {"--no-progress", "pkg.rbd"}, {"-l", "pkg.rbd"}, {"pkg.rbd"}}) {
        EXPECT_EQ(stderr_seen(args, nullptr), "") << args[0];
    }
}

TEST_F(HabitsTest, Sha256ListingChecksAnExtractionWithSha256sum) {
    PackLayout layout = SoundAndText();
    if (!RunsWindowsBuild()) {
        // sha256sum's own escape for a name with a line feed.
        layout.entries.push_back(FileGroup("odd", 1));
        layout.entries.push_back(FileEntry("line\nbreak", "nl"));
    }
    RunResult listing = RunWith(layout, {"-l", "--sha256", "pkg.rbd"});
    ASSERT_EQ(listing.status, 0);
    std::string expected =
        "61be55a8e2f6b4e172338bddf184d6dbee29c98853e0a0485ecee7f27b9af0b4  data/snd/a.wav\n"
        "3b64db95cb55c763391c707108489ae18b4112d783300de38e033b4c98c3deaf  data/snd/b.wav\n"
        "65ce01fcc3e22e78b63419ef0f4493b0950daac7cee97329b428f5cafd395cda  data/txt/readme.txt\n";
    if (!RunsWindowsBuild()) {
        expected += "\\1843653496800edfd0d30326c82f53b0338ed408468cca4a2f1b52f2f6395fc9  "
                    "odd/line\\nbreak\n";
    }
    EXPECT_EQ(listing.out, expected);
    std::string json = RunWith(layout, {"--json", "--sha256", "pkg.rbd", "data/snd/a.wav"}).out;
    EXPECT_NE(json.find(",\"sha256\":\"61be55a8e2f6b4e172338bddf184d6dbee29c98853e0a0485ecee7f27b9a"
                        "f0b4\"}\n"),
              std::string::npos)
        << json;

    ASSERT_EQ(RunWith(layout, {"-q", "pkg.rbd"}).status, 0);
    ASSERT_TRUE(WriteBytes(Work("sums"), listing.out));
    std::string check = "cd '" + Work("pkg") + "' && sha256sum --quiet --strict -c ../sums";
    EXPECT_EQ(std::system(check.c_str()), 0);
    ASSERT_TRUE(WriteBytes(Work("pkg/data/snd/b.wav"), "changed"));
    EXPECT_NE(std::system((check + " >/dev/null 2>&1").c_str()), 0);
}

TEST_F(HabitsTest, TestRefusesThePackageHardLinkedWhereAnEntryGoes) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "hard links and symbolic links as POSIX has them";
    }
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(SoundAndText())));
    fs::create_directories(Work("pkg/data/snd"));
    fs::create_hard_link(Work("pkg.rbd"), Work("pkg/data/snd/b.wav"));
    // A symbolic link to it is no danger: an extraction replaces the link.
    fs::create_symlink("../../../pkg.rbd", Work("pkg/data/snd/a.wav"));
    RunResult run = RunKestrun(scratch_ / "work", {"-t", "pkg.rbd"});
    EXPECT_EQ(run.err, "WARNING: Refusing to overwrite the package, \"data/snd/b.wav\"!\n");
    EXPECT_EQ(run.out, kTested);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(RunKestrun(scratch_ / "work", {"-x", "pkg.rbd"}).status, 2);
}

TEST_F(HabitsTest, ASignalMidEntryLeavesNoCutFileAndEndsTheRunByIt) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "POSIX signals";
    }
    // 3 GiB read from a sparse package: the signal comes long before the
    // copy could end.
    PackLayout layout;
    layout.entries = {FileGroup("g", 2), FileEntry("small", "done"), FileEntry("big", "")};
    layout.entries[2].size = 3u << 30;
    std::string index = BuildPackage(layout);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), index));
    fs::resize_file(Work("pkg.rbd"), index.size() + (uint64_t{3} << 30));

    const std::vector<std::pair<int, std::vector<std::string>>> runs = {
        {SIGINT, {"pkg.rbd"}}, {SIGTERM, {"-q", "pkg.rbd"}}, {SIGHUP, {"-x", "pkg.rbd"}}};
    for (const auto &[number, args] : runs) {
        SCOPED_TRACE(number);
        pid_t pid = StartProgram("KESTRUN_BIN", scratch_ / "work", args);
        ASSERT_GT(pid, 0);
        std::error_code missing;
        while (fs::file_size(Work("pkg/g/big"), missing) == 0 || missing) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "kestrun ended before the copy";
            usleep(1000);
        }
        ASSERT_EQ(kill(pid, number), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "ended with status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), number);
        // With several workers the small entry may still be in flight when
        // the big one starts, and is then removed with it: whole or absent.
        std::vector<std::string> tree = Tree();
        if (tree.size() == 2) {
            EXPECT_EQ(tree, (std::vector<std::string>{"g/", "g/small"}));
            EXPECT_EQ(ReadFile(Work("pkg/g/small")), "done");
        } else {
            EXPECT_EQ(tree, std::vector<std::string>{"g/"});
        }
        fs::remove_all(Work("pkg"));
    }
}

} // namespace

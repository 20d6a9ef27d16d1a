// The command line around the verbs: help, version, mistakes, what stays
// the classic run, and output that serves terminals and pipes.
#include "e2e.h"

#include <csignal>
#include <cstring>
#include <filesystem>

namespace {

using CliTest = ExtractTest;

PackLayout OneFile() {
    PackLayout layout;
    layout.entries = {FileGroup("sfx", 1), FileEntry("boom.wav", "BOOM")};
    return layout;
}

TEST_F(CliTest, HelpAndVersion) {
    for (const char *option : {"-h", "--help"}) {
        RunResult run = RunKestrun(scratch_ / "work", {option});
        EXPECT_EQ(run.out.rfind("Usage: kestrun PACKAGE [MEMBER]...\n"
                                "       kestrun [OPTION]... [--] PACKAGE [MEMBER]...\n",
                                0),
                  0u)
            << run.out;
        for (const char *documented :
             {"--list", "--json", "--test", "--info", "--directory=DIR", "--to-stdout", "--quiet",
              "--version", "--extract", "--verbose", "--keep-old-files", "--output=DIR",
              "--exclude=PATTERN", "--progress", "--no-progress", "--sha256", "--file=PACKAGE",
              "tar's -t is -l here", "Exit status"}) {
            EXPECT_NE(run.out.find(documented), std::string::npos) << documented;
        }
        // --diff's statuses are kestrun's, not diff's.
        EXPECT_NE(run.out.find("--diff=OTHER"), std::string::npos);
        EXPECT_NE(run.out.find("With --diff: 0 when the two are the same, 2 when they differ"),
                  std::string::npos);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
    }
    for (const char *option : {"-V", "--version"}) {
        RunResult run = RunKestrun(scratch_ / "work", {option});
        EXPECT_EQ(run.out, "kestrun " KESTRUN_EXPECTED_VERSION "\n");
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(CliTest, CommandLineMistakesGiveOneErrorAndAPointerToTheHelp) {
    std::filesystem::create_directory(Work("d"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-q", "--bogus", "pkg.rbd"}, "Unknown option \"--bogus\"!"},
        {{"-l", "-t", "pkg.rbd"}, "Options \"-l\" and \"-t\" cannot be used together!"},
        {{"--json", "--info", "pkg.rbd"},
         "Options \"--json\" and \"--info\" cannot be used together!"},
        {{"-C", "d", "-l", "pkg.rbd"}, "Options \"-C\" and \"-l\" cannot be used together!"},
        {{"-O", "--directory=d", "pkg.rbd"},
         "Options \"--directory\" and \"-O\" cannot be used together!"},
        {{"-C"}, "Option \"-C\" needs a directory!"},
        {{"--directory="}, "Option \"--directory\" needs a directory!"},
        {{"-q"}, "No package given!"},
        {{"-i", "pkg.rbd", "data"}, "Option \"-i\" takes no member patterns!"},
        {{"--diff"}, "Option \"--diff\" needs a package or a directory!"},
        {{"--diff=d", "-t", "pkg.rbd"}, "Options \"--diff\" and \"-t\" cannot be used together!"},
        {{"--diff", "d", "--sha256", "pkg.rbd"},
         "Options \"--sha256\" and \"--diff\" cannot be used together!"},
        // -f: the package among the options, then member patterns.
        {{"--file="}, "Option \"--file\" needs a package!"},
        {{"-xf", "-"},
         "Option \"-f\" needs a package file, not \"-\": a package is read at many offsets, so "
         "it can't come from standard input!"},
        {{"-f", "pkg.rbd", "--file=other.rbd"},
         "Two packages given, \"pkg.rbd\" and \"other.rbd\"; give one!"},
        {{"-xf", "pkg.rbd", "--", "other.rbd"},
         "Two packages given, \"pkg.rbd\" and \"other.rbd\"; give one!"},
        {{"-xf", "pkg.rbd", "sfx", "-C", "d"},
         "Option \"-C\" comes after the member patterns; options go before them!"},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args[0]);
        RunResult run = RunWith(OneFile(), args);
        EXPECT_EQ(run.err,
                  "ERROR: " + message + "\nTry \"kestrun --help\" for more information.\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(ListTree(scratch_ / "work"), (std::vector<std::string>{"d/", "pkg.rbd"}));
    }
}

TEST_F(CliTest, PackagesNamedLikeOptionsAreStillPackages) {
    for (const char *name : {"--help.rbd", "-v.rbd"}) {
        RunResult run = RunLayout(OneFile(), name);
        std::string root = std::string(name).substr(0, std::strlen(name) - 4);
        EXPECT_EQ(run.out, kBanner + ("Writing \"" + root + "/sfx/boom.wav\"...\n") +
                               "Reached end of package indices.\nDone!\n");
        EXPECT_EQ(run.status, 0);
    }
    // A package named exactly like an option is reached after "--".
    ASSERT_TRUE(WriteBytes(Work("--list"), BuildPackage(OneFile())));
    RunResult run = RunKestrun(scratch_ / "work", {"--", "--list"});
    EXPECT_EQ(run.out, "Writing \"--/sfx/boom.wav\"...\nReached end of package indices.\nDone!\n");
    EXPECT_EQ(ReadFile(Work("--/sfx/boom.wav")), "BOOM");
}

TEST_F(CliTest, ClosedStandardOutputNeverStopsAnExtraction) {
    PackLayout layout;
    const uint32_t count = 3000; // far more lines than a pipe holds
    layout.entries.push_back(FileGroup("g", count));
    for (uint32_t i = 0; i < count; ++i) {
        layout.entries.push_back(FileEntry("f" + std::to_string(i), std::to_string(i)));
    }
    RunOptions options;
    options.close_stdout = true;
    RunResult run = RunWith(layout, {"pkg.rbd"}, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Tree().size(), count + 1);
    EXPECT_EQ(ReadFile(Work("pkg/g/f2999")), "2999");

    // Where the output is the product, a reader gone ends the run quietly,
    // as by SIGPIPE.
    for (const char *option : {"-l", "--json", "-O", "-t", "-i"}) {
        run = RunWith(layout, {option, "pkg.rbd"}, options);
        if (RunsWindowsBuild()) {
            EXPECT_EQ(run.status, 141) << option;
        } else {
            EXPECT_EQ(run.signal, SIGPIPE) << option;
        }
        EXPECT_EQ(run.err, "") << option;
    }
}

// Runs kestrun with a pseudo-terminal as standard output and gives what the
// terminal received.
std::string RunOnTerminal(const std::string &work_dir, const std::vector<std::string> &args) {
    PseudoTerminal pty = OpenPseudoTerminal();
    RunOptions options;
    options.stdout_fd = pty.terminal;
    RunResult run = RunKestrun(work_dir, args, options);
    EXPECT_EQ(run.status, 0);
    return DrainPseudoTerminal(pty);
}

TEST_F(CliTest, NamesWithControlCharactersAreEscapedOnATerminalOnly) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "pseudo-terminals are POSIX";
    }
    PackLayout layout;
    layout.entries = {FileGroup("g\x1b[2J", 3),
                      FileEntry("raw\x9b"
                                "1m",
                                "1"),
                      FileEntry("utf\xc2\x9b"
                                "1m",
                                "2"),
                      FileEntry("caf\xc3\xa9\tx", "3")};
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    const std::string work_dir = scratch_ / "work";
    EXPECT_EQ(RunOnTerminal(work_dir, {"-q", "pkg.rbd"}), "");
    std::string listed = RunOnTerminal(work_dir, {"-l", "pkg.rbd"});
    EXPECT_EQ(listed, "         1  g\\x1b[2J/raw\\x9b1m\n"
                      "         1  g\\x1b[2J/utf\\xc2\\x9b1m\n"
                      "         1  g\\x1b[2J/caf\xc3\xa9\\x09x\n");
    // A backslash is doubled there, so that no name can pass for an escape.
    PackLayout backslash;
    backslash.entries = {FileGroup("g", 1), FileEntry("a\\x1b", "1")};
    ASSERT_TRUE(WriteBytes(Work("bs.rbd"), BuildPackage(backslash)));
    EXPECT_EQ(RunOnTerminal(work_dir, {"-l", "bs.rbd"}), "         1  g/a\\\\x1b\n");
    // The package's own path too, which -i shows.
    std::filesystem::copy_file(Work("pkg.rbd"), Work("t\x1b]0;x\x07.rbd"));
    std::string info = RunOnTerminal(work_dir, {"-i", "t\x1b]0;x\x07.rbd"});
    EXPECT_NE(info.find("\nt\\x1b]0;x\\x07.rbd\n version: 2\n"), std::string::npos) << info;
    std::string extracted = RunOnTerminal(work_dir, {"pkg.rbd"});
    EXPECT_NE(extracted.find("Writing \"pkg/g\\x1b[2J/caf\xc3\xa9\\x09x\"...\n"), std::string::npos)
        << extracted;

    // Into a pipe the bytes are unchanged.
    RunResult piped = RunWith(layout, {"-l", "pkg.rbd"});
    EXPECT_EQ(piped.out.substr(0, piped.out.find('\n')), "         1  g\x1b[2J/raw\x9b"
                                                         "1m");
}

} // namespace

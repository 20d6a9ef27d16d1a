#include "e2e.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <termios.h>
#include <unistd.h>

const char kBanner[] = "Kestrel Software Presents\n"
                       " kestrun (1.0.0)\n" // fixed text, whatever the version
                       " Developed by the kestrun authors\n"
                       "\n";

void ExtractTest::SetUp() {
    std::filesystem::create_directory(scratch_ / "work");
}

RunResult ExtractTest::RunBytes(const std::string &bytes, const std::string &name,
                                const RunOptions &options) {
    EXPECT_TRUE(WriteBytes(Work(name), bytes));
    return RunKestrun(scratch_ / "work", {name}, options);
}

RunResult ExtractTest::RunLayout(const PackLayout &layout, const std::string &name,
                                 const RunOptions &options) {
    return RunBytes(BuildPackage(layout), name, options);
}

RunResult ExtractTest::RunWith(const PackLayout &layout, const std::vector<std::string> &args,
                               const RunOptions &options) {
    EXPECT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    return RunKestrun(scratch_ / "work", args, options);
}

std::string ExtractTest::Work(const std::string &relative) const {
    return scratch_ / ("work/" + relative);
}

std::vector<std::string> ExtractTest::Tree(const std::string &root) const {
    return ListTree(Work(root));
}

void ExtractTest::ExpectNothingOutsideWork() const {
    for (const std::string &path : ListTree(scratch_.path())) {
        EXPECT_EQ(path.rfind("work/", 0), 0u) << "written outside the working directory: " << path;
    }
}

PseudoTerminal OpenPseudoTerminal() {
    PseudoTerminal pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(pty.master, 0);
    EXPECT_EQ(grantpt(pty.master), 0);
    EXPECT_EQ(unlockpt(pty.master), 0);
    pty.terminal = open(ptsname(pty.master), O_RDWR | O_NOCTTY);
    termios settings{};
    tcgetattr(pty.terminal, &settings);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST); // no "\r\n" for "\n"
    tcsetattr(pty.terminal, TCSANOW, &settings);
    return pty;
}

std::string DrainPseudoTerminal(PseudoTerminal &pty) {
    close(pty.terminal);
    std::string seen;
    char buffer[4096];
    for (ssize_t got; (got = read(pty.master, buffer, sizeof buffer)) > 0;) {
        seen.append(buffer, static_cast<size_t>(got));
    }
    close(pty.master);
    return seen;
}

std::string WritingLine(const std::string &group_path, const std::string &name) {
    return "Writing \"pkg/" + group_path + name + "\"...\n";
}

PackLayout EmptyGroupNames() {
    PackLayout layout;
    layout.entries = {DirectoryGroup("", 1),
                      FileGroup("etc", 1),
                      FileEntry("passwd", "not the host's\n"),
                      FileGroup("a", 1),
                      FileEntry("x", "the first a/x\n"),
                      DirectoryGroup("a", 1),
                      FileGroup("", 1),
                      FileEntry("x", "a//x, written over a/x\n"),
                      FileGroup("", 1),
                      FileEntry("a/x", "an unsafe name, refused\n")};
    return layout;
}

PackLayout SoundAndText() {
    PackLayout layout;
    layout.entries = {DirectoryGroup("data", 2),  FileGroup("snd", 2),
                      FileEntry("a.wav", "aaaa"), FileEntry("b.wav", "bb"),
                      FileGroup("txt", 1),        FileEntry("readme.txt", "read me\n")};
    return layout;
}

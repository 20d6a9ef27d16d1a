// rbdpack ended by SIGINT, SIGTERM or SIGHUP while it packs, or by two of
// them close together, removes its hidden temporary file, and still ends by
// a signal it was sent, as its caller expects.
#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The temporary file's name as soon as rbdpack has made it, or empty when
// rbdpack ended before that (it is then reaped).
std::string WaitForTemporary(const std::string &dir, pid_t pid) {
    for (;;) {
        for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (name.rfind(".pkg.rbd.", 0) == 0) {
                return name;
            }
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return std::string();
        }
        usleep(1000);
    }
}

TEST(RbdpackInterruptTest, EachSignalRemovesTheTemporaryFile) {
    TempDir scratch;
    fs::create_directories(scratch / "tree/a");
    // Gigabytes to copy, read from a sparse file: the signal comes long
    // before the package could be finished.
    ASSERT_TRUE(WriteBytes(scratch / "tree/a/big", ""));
    fs::resize_file(scratch / "tree/a/big", uint64_t{3} << 30);

    // Each signal alone, then with a second one close behind it, as an
    // impatient double Ctrl-C sends: that one must wait for the handler.
    const std::vector<std::pair<int, int>> runs = {{SIGINT, 0},       {SIGTERM, 0},
                                                   {SIGHUP, 0},       {SIGINT, SIGINT},
                                                   {SIGTERM, SIGINT}, {SIGHUP, SIGTERM}};
    for (const auto &[first, second] : runs) {
        SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
        pid_t pid = StartProgram("RBDPACK_BIN", scratch.path(), {"tree", "pkg.rbd"});
        ASSERT_GT(pid, 0);
        std::string temporary = WaitForTemporary(scratch.path(), pid);
        ASSERT_FALSE(temporary.empty()) << "rbdpack ended before it made its temporary file";
        ASSERT_EQ(kill(pid, first), 0);
        if (second != 0) {
            ASSERT_EQ(kill(pid, second), 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "ended with status " << WEXITSTATUS(status);
        EXPECT_TRUE(WTERMSIG(status) == first || WTERMSIG(status) == second) << WTERMSIG(status);
        // Nothing but the tree: neither the temporary file nor a package.
        EXPECT_EQ(ListTree(scratch.path()),
                  (std::vector<std::string>{"tree/", "tree/a/", "tree/a/big"}))
            << "after " << temporary;
    }
}

} // namespace

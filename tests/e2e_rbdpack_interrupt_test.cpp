// rbdpack ended by SIGINT, SIGTERM or SIGHUP while it packs removes its
// hidden temporary file, and still ends by that signal, as its caller expects.
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs rbdpack on "tree" into "pkg.rbd" in `dir` without waiting for it. The
// signals start at their defaults whatever the tests were started with (a
// background job ignores SIGINT, nohup SIGHUP), as they do for a user.
pid_t StartPacking(const std::string &dir) {
    const char *binary = std::getenv("RBDPACK_BIN");
    if (binary == nullptr) {
        ADD_FAILURE() << "RBDPACK_BIN is not set";
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(signal_number, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        execl(binary, binary, "tree", "pkg.rbd", static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

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

    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        pid_t pid = StartPacking(scratch.path());
        ASSERT_GT(pid, 0);
        std::string temporary = WaitForTemporary(scratch.path(), pid);
        ASSERT_FALSE(temporary.empty()) << "rbdpack ended before it made its temporary file";
        ASSERT_EQ(kill(pid, signal_number), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "ended with status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal_number);
        // Nothing but the tree: neither the temporary file nor a package.
        EXPECT_EQ(ListTree(scratch.path()),
                  (std::vector<std::string>{"tree/", "tree/a/", "tree/a/big"}))
            << "after " << temporary;
    }
}

} // namespace

// kestrun-mount end to end: a package mounted in the foreground shows exactly
// the tree that `kestrun PACKAGE` writes, serves its bytes to parallel
// readers, and ends cleanly. Skipped, with the reason, where FUSE mounts
// can't be made; KESTRUN_REQUIRE_ALL=1 (set by CI) turns that into a failure.
#include "e2e.h"
#include "rbd_writer.h"
#include "required.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

bool Mounted(const std::string &path) {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 5 && fields >> field; ++i) {
        }
        if (field == path) {
            return true;
        }
    }
    return false;
}

pid_t Spawn(const std::vector<std::string> &args, const std::string &err_file) {
    std::vector<char *> argv;
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int RunCommand(const std::vector<std::string> &args) {
    pid_t pid = Spawn(args, "/dev/null");
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                           : -1;
}

// A mount daemon in the foreground. Whatever happens, it is unmounted and
// gone when this ends; a watchdog ends it (and so any read hung on it) after
// a minute.
struct Daemon {
    std::string mountpoint;
    std::string err_file;
    pid_t pid = -1;
    int status = -1; // its exit status once it ended, -1 for a signal
    std::atomic<bool> timed_out{false};
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool reaped = false;
    std::thread watchdog;

    Daemon(const std::vector<std::string> &args, const std::string &mnt, const std::string &err)
        : mountpoint(mnt), err_file(err) {
        std::vector<std::string> command = {std::getenv("KESTRUN_MOUNT_BIN"), "-f"};
        command.insert(command.end(), args.begin(), args.end());
        pid = Spawn(command, err_file);
        watchdog = std::thread([this] {
            std::unique_lock<std::mutex> held(lock);
            if (!done.wait_for(held, std::chrono::seconds(60), [this] { return finished; })) {
                timed_out = true;
                Stop();
                RunCommand({"fusermount3", "-uz", mountpoint});
            }
        });
    }
    ~Daemon() {
        {
            std::lock_guard<std::mutex> held(lock);
            finished = true;
        }
        done.notify_all();
        watchdog.join();
        if (Mounted(mountpoint)) {
            RunCommand({"fusermount3", "-uz", mountpoint});
        }
        Stop();
        Reap(0);
    }
    void Stop() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
        }
    }
    // Takes the daemon's exit status once it has ended; true when it has.
    bool Reap(int flags) {
        int raw = 0;
        if (pid > 0 && !reaped && waitpid(pid, &raw, flags) == pid) {
            std::lock_guard<std::mutex> held(lock);
            reaped = true;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }
        return reaped;
    }
    // Waits until the mount is there (true) or the daemon has ended (false).
    bool WaitMounted() {
        while (!timed_out && !Reap(WNOHANG)) {
            if (Mounted(mountpoint)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int Wait() {
        Reap(0);
        return status;
    }
    std::string Errors() const {
        return ReadFile(err_file);
    }
};

// Whether the system refused the mount (libfuse's and fusermount3's own
// messages), rather than kestrun-mount the package.
bool MountRefused(const std::string &errors) {
    std::istringstream in(errors);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("fuse: ", 0) == 0 || line.rfind("fusermount", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Waits until `daemon` has mounted its package. Where the system refuses
// FUSE mounts the test is skipped (a failure with KESTRUN_REQUIRE_ALL=1);
// any other failure to mount fails it.
#define WAIT_MOUNTED_OR_SKIP(daemon)                                                               \
    do {                                                                                           \
        if (!(daemon).WaitMounted()) {                                                             \
            std::string why = (daemon).Errors();                                                   \
            if (MountRefused(why)) {                                                               \
                SKIP_OR_FAIL_WITHOUT("mounting failed: " + why);                                   \
            }                                                                                      \
            FAIL() << "not mounted, status " << (daemon).status << ": " << why;                    \
        }                                                                                          \
    } while (0)

std::vector<std::string> WarningLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("WARNING: ", 0) == 0 && line != "WARNING: Failed to read in data!") {
            lines.push_back(line);
        }
    }
    return lines;
}

// The classic run's warnings with each quoted path as the library names it,
// below the output root: empty group names, which the classic run shows as
// the package spells them ("./pkg//data", "/a/x"), left out.
std::vector<std::string> NamedBelowRoot(std::vector<std::string> lines) {
    for (std::string &line : lines) {
        size_t quote = line.find('"');
        if (quote != std::string::npos && line.compare(quote + 1, 1, "/") == 0) {
            line.erase(quote + 1, 1);
        }
        for (size_t at = line.find("//"); at != std::string::npos; at = line.find("//", at)) {
            line.erase(at, 1);
        }
    }
    return lines;
}

// Reads every file at random places from several threads at once; each
// piece must be the extracted file's bytes there.
void ReadInParallel(const std::string &mnt, const std::string &extracted) {
    std::vector<std::string> files;
    for (const std::string &path : ListTree(extracted)) {
        if (path.back() != '/') {
            files.push_back(path);
        }
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (unsigned seed = 0; seed < 4; ++seed) {
        readers.emplace_back([&, seed] {
            std::mt19937 random(seed);
            for (int round = 0; round < 50; ++round) {
                const std::string &path = files[random() % files.size()];
                std::string expected = ReadFile(extracted + "/" + path);
                size_t at = expected.empty() ? 0 : random() % expected.size();
                size_t length = 1 + random() % (1 << 18);
                std::string got(length, '\0');
                int fd = open((mnt + "/" + path).c_str(), O_RDONLY);
                ssize_t n = fd < 0 ? -1 : pread(fd, &got[0], length, static_cast<off_t>(at));
                if (fd >= 0) {
                    close(fd);
                }
                if (n < 0 || got.substr(0, static_cast<size_t>(n)) != expected.substr(at, length)) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread &reader : readers) {
        reader.join();
    }
    EXPECT_EQ(mismatches, 0);
}

PackEntry FileAt(const std::string &name, const std::string &data, uint32_t offset) {
    PackEntry entry = FileEntry(name, data);
    entry.offset = offset;
    return entry;
}

// Duplicates, unsafe names (a group's name holding a slash, which its path
// can't show, too), clashes between files and groups, empty names, a path
// that is too long below "pkg" alone, and data past the end.
PackLayout Troublesome() {
    std::mt19937 random(16);
    std::string big(3 << 20, '\0');
    for (char &c : big) {
        c = static_cast<char>(random());
    }
    std::string long_name(60, 'n');
    PackLayout layout;
    layout.entries = {DirectoryGroup("data", 5),
                      FileGroup("txt", 3),
                      FileEntry("a.txt", "old"),
                      FileEntry("..", "up"),
                      FileEntry("a.txt", "new, and longer"),
                      FileGroup("..", 1),
                      FileEntry("escape", "no"),
                      FileGroup("", 1),
                      FileEntry("beside", "in data itself"),
                      FileGroup("empty", 1),
                      FileEntry("", "nameless"),
                      FileGroup("x/y", 1),
                      FileEntry("", "nameless below a slash"),
                      FileGroup("", 4),
                      FileEntry("clash", "a file first"),
                      FileEntry("big", big),
                      FileEntry("data", "a dir has it"),
                      FileAt("lost", "past the end", 0xFFFFFF00u),
                      FileGroup("clash", 1),
                      FileEntry("inside", "a file is in the way"),
                      DirectoryGroup(long_name, 1),
                      DirectoryGroup(long_name, 1),
                      DirectoryGroup(long_name, 1),
                      FileGroup(long_name, 2),
                      FileEntry("12345678", "fits exactly"),
                      FileEntry("123456789", "one too long")};
    return layout;
}

class MountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access("/dev/fuse", F_OK) != 0) {
            SKIP_OR_FAIL_WITHOUT("no /dev/fuse here");
        }
        mkdir(Work("mnt").c_str(), 0755);
    }
    std::string Work(const std::string &relative) const {
        return scratch_ / relative;
    }
    TempDir scratch_;
};

TEST_F(MountTest, ShowsTheExtractedTreeToParallelReadersAndUnmountsCleanly) {
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(Troublesome())));
    RunResult cli = RunKestrun(scratch_.path(), {"pkg.rbd"});
    ASSERT_EQ(cli.status, 2) << cli.out;
    Daemon daemon({Work("pkg.rbd"), Work("mnt")}, Work("mnt"), Work("mount.err"));
    WAIT_MOUNTED_OR_SKIP(daemon);
    EXPECT_EQ(RunCommand({"diff", "-r", Work("mnt"), Work("pkg")}), 0);
    EXPECT_EQ(WarningLines(daemon.Errors()), NamedBelowRoot(WarningLines(cli.out)));
    ReadInParallel(Work("mnt"), Work("pkg"));

    struct stat status {};
    ASSERT_EQ(stat(Work("mnt/data").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFDIR | 0555u);
    ASSERT_EQ(stat(Work("mnt/big").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, S_IFREG | 0444u);
    EXPECT_EQ(open(Work("mnt/new").c_str(), O_WRONLY | O_CREAT, 0644), -1);
    EXPECT_EQ(errno, EROFS);

    EXPECT_EQ(RunCommand({"fusermount3", "-u", Work("mnt")}), 0);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.Errors();
    EXPECT_FALSE(daemon.timed_out);
}

// A top-level group named "" and a nested one: the mount lays out the tree
// that extraction writes, the entry of a//x where a/x is.
TEST_F(MountTest, EmptyGroupNamesMountWhereExtractionWritesThem) {
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(EmptyGroupNames())));
    RunResult cli = RunKestrun(scratch_.path(), {"pkg.rbd"});
    ASSERT_EQ(cli.status, 2) << cli.out;
    Daemon daemon({Work("pkg.rbd"), Work("mnt")}, Work("mnt"), Work("mount.err"));
    WAIT_MOUNTED_OR_SKIP(daemon);
    EXPECT_EQ(ListTree(Work("mnt")), (std::vector<std::string>{"a/", "a/x", "etc/", "etc/passwd"}));
    EXPECT_EQ(RunCommand({"diff", "-r", Work("mnt"), Work("pkg")}), 0);
    EXPECT_EQ(WarningLines(daemon.Errors()),
              std::vector<std::string>{"WARNING: Refusing unsafe path, \"a/x\"!"});
    EXPECT_EQ(RunCommand({"fusermount3", "-u", Work("mnt")}), 0);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.Errors();
}

TEST_F(MountTest, DamagedPackageMountsOnlyInPartWhereShrinkingGivesEIO) {
    std::mt19937 random(14);
    std::string kept(200000, '\0');
    for (char &c : kept) {
        c = static_cast<char>(random());
    }
    PackLayout layout;
    // The directory group promises two child groups and the index ends after one.
    layout.entries = {FileGroup("g", 2),      FileEntry("kept", kept), FileEntry("small", "s"),
                      DirectoryGroup("d", 2), FileGroup("sub", 1),     FileEntry("inner", "i")};
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    ASSERT_EQ(RunKestrun(scratch_.path(), {"pkg.rbd"}).status, 1);

    RunResult refused = RunProgram("KESTRUN_MOUNT_BIN", scratch_.path(), {"pkg.rbd", "mnt"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("kestrun-mount: pkg.rbd: "), std::string::npos) << refused.err;
    EXPECT_FALSE(Mounted(Work("mnt")));

    Daemon daemon({"-o", "partial", Work("pkg.rbd"), Work("mnt")}, Work("mnt"), Work("mount.err"));
    WAIT_MOUNTED_OR_SKIP(daemon);
    EXPECT_EQ(ListTree(Work("mnt")), ListTree(Work("pkg")));
    // The package loses its data under the mount: reads fail, nothing crashes.
    ASSERT_EQ(truncate(Work("pkg.rbd").c_str(), 1024 + 6 * 96), 0);
    // Whole, so that the kernel asks for more than the reads it splices start at.
    int fd = open(Work("mnt/g/kept").c_str(), O_RDONLY);
    std::string whole(kept.size(), '\0');
    EXPECT_EQ(read(fd, &whole[0], whole.size()), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);
    fd = open(Work("mnt/g/small").c_str(), O_RDONLY);
    EXPECT_EQ(read(fd, &whole[0], 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);

    ASSERT_EQ(kill(daemon.pid, SIGTERM), 0);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.Errors();
    EXPECT_FALSE(Mounted(Work("mnt")));
    EXPECT_FALSE(daemon.timed_out);
}

// What kestrun refuses, the mount refuses before mounting anything: a
// package whose name gives no output root (70 characters); and so is a mount
// point that is no directory, which FUSE would take and answer with EIO.
TEST_F(MountTest, RefusesWhatKestrunRefusesAndAMountPointThatIsNoDirectory) {
    PackLayout layout;
    layout.entries = {FileGroup("g", 1), FileEntry("a", "a")};
    const std::string long_name = std::string(66, 'p') + ".rbd";
    ASSERT_TRUE(WriteBytes(Work(long_name), BuildPackage(layout)));
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    ASSERT_TRUE(WriteBytes(Work("file"), "not a directory"));

    EXPECT_EQ(RunKestrun(scratch_.path(), {long_name}).status, 1);
    RunResult named = RunProgram("KESTRUN_MOUNT_BIN", scratch_.path(), {long_name, "mnt"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err, "kestrun-mount: " + long_name +
                             ": invalid package name: kestrun takes names of 4 to 67 characters, "
                             "the last 4 its extension\n");
    EXPECT_FALSE(Mounted(Work("mnt")));

    for (const char *mount_point : {"file", "pkg.rbd"}) {
        RunResult refused =
            RunProgram("KESTRUN_MOUNT_BIN", scratch_.path(), {"pkg.rbd", mount_point});
        EXPECT_EQ(refused.status, 1);
        // libfuse has made the path absolute.
        EXPECT_EQ(refused.err,
                  "kestrun-mount: " + Work(mount_point) + ": the mount point is not a directory\n");
        EXPECT_FALSE(Mounted(Work(mount_point)));
    }
    EXPECT_EQ(ReadFile(Work("file")), "not a directory");
}

// -o uid=,gid=,umask= as the FUSE archive mounts take them: the owner and
// permissions that every file and directory shows.
TEST_F(MountTest, OwnerAndPermissionsFromUidGidAndUmask) {
    PackLayout layout;
    layout.entries = {DirectoryGroup("d", 1), FileGroup("sub", 1), FileEntry("f", "bytes")};
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
    Daemon daemon({"-o", "uid=4321,gid=1234,umask=022", Work("pkg.rbd"), Work("mnt")}, Work("mnt"),
                  Work("mount.err"));
    WAIT_MOUNTED_OR_SKIP(daemon);
    for (const char *path : {"mnt", "mnt/d", "mnt/d/sub", "mnt/d/sub/f"}) {
        struct stat status {};
        ASSERT_EQ(stat(Work(path).c_str(), &status), 0) << path;
        bool file = std::string(path) == "mnt/d/sub/f";
        EXPECT_EQ(status.st_mode, file ? S_IFREG | 0644u : S_IFDIR | 0755u) << path;
        EXPECT_EQ(status.st_uid, 4321u) << path;
        EXPECT_EQ(status.st_gid, 1234u) << path;
    }
    EXPECT_EQ(ReadFile(Work("mnt/d/sub/f")), "bytes");
    EXPECT_EQ(RunCommand({"fusermount3", "-u", Work("mnt")}), 0);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.Errors();
}

// The package is opened as the library opens it: a FIFO (with no writer) is
// refused at once, before anything is mounted or read.
TEST_F(MountTest, AFifoIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(Work("f.rbd").c_str(), 0600), 0);
    RunOptions options;
    options.timeout_seconds = 20;
    RunResult refused = RunProgram("KESTRUN_MOUNT_BIN", scratch_.path(), {"f.rbd", "mnt"}, options);
    EXPECT_EQ(refused.err,
              "kestrun-mount: f.rbd: the package is a FIFO, not a regular file or block device\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(Mounted(Work("mnt")));
}

} // namespace

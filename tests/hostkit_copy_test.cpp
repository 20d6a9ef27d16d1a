// hkCopyRange: the bytes of the range and nothing else, whatever the output,
// and a short source told apart from an output that refuses bytes.
#include "hostkit/hostkit.h"
#include "rbd_writer.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string Pattern(size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>(i * 31 % 251));
    }
    return bytes;
}

class HostkitCopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteBytes(dir_ / "source", source_));
        in_ = open((dir_ / "source").c_str(), O_RDONLY);
        ASSERT_GE(in_, 0);
        ASSERT_EQ(lseek(in_, 7, SEEK_SET), 7);
    }
    void TearDown() override {
        close(in_);
    }
    // Copies into a new file opened with `flags` and gives back its contents.
    std::string CopyToFile(int flags, uint64_t offset, uint64_t size, int expected) {
        std::string path = dir_ / ("out" + std::to_string(++outputs_));
        int out = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
        EXPECT_GE(out, 0);
        EXPECT_EQ(hkCopyRange(out, in_, offset, size), expected);
        close(out);
        return ReadFile(path);
    }

    TempDir dir_;
    // Larger than hostkit's buffer: a copy through it takes several pieces.
    const std::string source_ = Pattern(300000);
    int in_ = -1;
    int outputs_ = 0;
};

TEST_F(HostkitCopyTest, RangeArrivesExactlyWhateverTheOutput) {
    const std::string range = source_.substr(1000, 250000);
    EXPECT_EQ(CopyToFile(0, 1000, range.size(), HK_COPY_DONE), range);
    // Appending outputs are refused by the kernel's copy: the bytes go
    // through the buffer instead.
    EXPECT_EQ(CopyToFile(O_APPEND, 1000, range.size(), HK_COPY_DONE), range);
    EXPECT_EQ(CopyToFile(0, 5, 0, HK_COPY_DONE), "");

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_GE(fcntl(pipe_fds[1], F_SETPIPE_SZ, 1 << 20), static_cast<int>(range.size()));
    EXPECT_EQ(hkCopyRange(pipe_fds[1], in_, 1000, range.size()), HK_COPY_DONE);
    close(pipe_fds[1]);
    std::string arrived;
    char chunk[65536];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
        arrived.append(chunk, static_cast<size_t>(n));
    }
    close(pipe_fds[0]);
    EXPECT_EQ(arrived, range);

    EXPECT_EQ(lseek(in_, 0, SEEK_CUR), 7);
}

TEST_F(HostkitCopyTest, ShortSourceKeepsWhatWasThere) {
    const std::string tail = source_.substr(299000);
    EXPECT_EQ(CopyToFile(0, 299000, 5000, HK_COPY_SHORT_READ), tail);
    EXPECT_EQ(CopyToFile(O_APPEND, 299000, 5000, HK_COPY_SHORT_READ), tail);
    EXPECT_EQ(CopyToFile(0, 400000, 1, HK_COPY_SHORT_READ), "");
    EXPECT_EQ(CopyToFile(0, UINT64_MAX, 2, HK_COPY_SHORT_READ), "");
    EXPECT_EQ(lseek(in_, 0, SEEK_CUR), 7);
}

TEST_F(HostkitCopyTest, RefusingOutputIsAWriteFailureWithItsReason) {
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_EQ(hkCopyRange(full, in_, 0, 1000), HK_COPY_WRITE_FAILED);
    EXPECT_STREQ(hkGetError(), std::strerror(ENOSPC));
    close(full);

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    close(pipe_fds[0]);
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(hkCopyRange(pipe_fds[1], in_, 0, 1000), HK_COPY_WRITE_FAILED);
    EXPECT_STREQ(hkGetError(), std::strerror(EPIPE));
    std::signal(SIGPIPE, previous);
    close(pipe_fds[1]);
}

} // namespace

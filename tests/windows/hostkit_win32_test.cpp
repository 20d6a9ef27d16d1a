// The Win32 host services: Windows path forms, directory creation along
// either separator, the system's error texts, copying a range, and reading a
// tree below a handle.
#include "hostkit/hostkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <io.h>
#include <iterator>
#include <map>
#include <string>
#include <sys/stat.h>
#include <windows.h>

namespace {

namespace fs = std::filesystem;

// A fresh directory under the temporary folder, removed at the end of a test.
class HostkitWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        static int counter = 0;
        root_ =
            (fs::temp_directory_path() / ("hostkit-test-" + std::to_string(GetCurrentProcessId()) +
                                          "-" + std::to_string(++counter)))
                .string();
        ASSERT_TRUE(fs::create_directory(root_));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string Path(const std::string &relative) const {
        return root_ + "\\" + relative;
    }
    static void Touch(const std::string &path) {
        FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        std::fclose(file);
    }

    std::string root_;
};

TEST(HostkitWin32FileName, LastComponentAfterEitherSeparatorOrADrive) {
    EXPECT_STREQ(hkGetFileName("games/music.rbd"), "music.rbd");
    EXPECT_STREQ(hkGetFileName("games\\music.rbd"), "music.rbd");
    EXPECT_STREQ(hkGetFileName("C:\\games/sub\\music.rbd"), "music.rbd");
    EXPECT_STREQ(hkGetFileName("C:music.rbd"), "music.rbd");
    EXPECT_STREQ(hkGetFileName("plain.rbd"), "plain.rbd");
    EXPECT_STREQ(hkGetFileName("C:"), "");
    EXPECT_STREQ(hkGetFileName("dir\\"), "");
    // Only a letter before the colon makes a drive.
    EXPECT_STREQ(hkGetFileName("1:x.rbd"), "1:x.rbd");
}

TEST_F(HostkitWin32Test, FileExistsOnlyForNonDirectoriesWithTheSystemsReason) {
    Touch(Path("f.rbd"));
    EXPECT_TRUE(hkFileExists(Path("f.rbd").c_str()));
    EXPECT_TRUE(hkFileExists((root_ + "/f.rbd").c_str()));

    EXPECT_FALSE(hkFileExists(Path("missing.rbd").c_str()));
    std::string missing = hkGetError();
    EXPECT_FALSE(hkFileExists(root_.c_str()));
    std::string directory = hkGetError();
    // The system's texts, without the line break they come with.
    for (const std::string &text : {missing, directory}) {
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '\n') << text;
        EXPECT_NE(text.back(), '\r') << text;
    }
    EXPECT_NE(missing, directory);
}

TEST_F(HostkitWin32Test, CopyRangeGivesTheRange) {
    // Larger than the copy's buffer, so that it takes several pieces.
    std::string source;
    for (int i = 0; i < (3 << 20); ++i) {
        source.push_back(static_cast<char>(i * 31 % 251));
    }
    std::ofstream(Path("source"), std::ios::binary) << source;
    int in = _open(Path("source").c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_GE(in, 0);
    auto copy = [&](const char *name, uint64_t offset, uint64_t size) {
        int out = _open(Path(name).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
        int result = hkCopyRange(out, in, offset, size);
        _close(out);
        return result;
    };
    auto contents = [&](const char *name) {
        std::ifstream file(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    EXPECT_EQ(copy("range", 1000, 2500000), HK_COPY_DONE);
    EXPECT_EQ(contents("range"), source.substr(1000, 2500000));
    EXPECT_EQ(copy("tail", source.size() - 10, 100), HK_COPY_SHORT_READ);
    EXPECT_EQ(contents("tail"), source.substr(source.size() - 10));

    int read_only = _open(Path("source").c_str(), _O_RDONLY | _O_BINARY);
    EXPECT_EQ(hkCopyRange(read_only, in, 0, 10), HK_COPY_WRITE_FAILED);
    EXPECT_STRNE(hkGetError(), "");
    _close(read_only);
    _close(in);
}

TEST_F(HostkitWin32Test, TreeNamesAreListedAndOnlyRegularFilesOpen) {
    std::ofstream(Path("file"), std::ios::binary) << "bytes";
    ASSERT_TRUE(fs::create_directory(Path("sub")));
    hkDirectory *top = hkOpenDirectory(root_.c_str());
    ASSERT_NE(top, nullptr);
    hkListing *listing = hkListDirectory(top);
    ASSERT_NE(listing, nullptr);
    std::map<std::string, int> kinds;
    const char *name = nullptr;
    int kind = 0;
    while (hkNextName(listing, &name, &kind) == 1) {
        kinds[name] = kind;
    }
    EXPECT_EQ(hkNextName(listing, &name, &kind), 0);
    hkCloseListing(listing);
    EXPECT_EQ(kinds,
              (std::map<std::string, int>{{"file", HK_KIND_FILE}, {"sub", HK_KIND_DIRECTORY}}));

    int fd = -1;
    ASSERT_EQ(hkOpenFileBelow(top, "file", &fd), HK_OPEN_DONE);
    char bytes[8] = {};
    EXPECT_EQ(hkReadAt(fd, 1, bytes, sizeof bytes), 4);
    EXPECT_STREQ(bytes, "ytes");
    EXPECT_TRUE(hkCloseFile(fd));
    EXPECT_EQ(hkOpenFileBelow(top, "sub", &fd), HK_OPEN_NOT_FILE);
    EXPECT_EQ(hkOpenFileBelow(top, "missing", &fd), HK_OPEN_FAILED);
    hkCloseDirectory(top);
}

} // namespace

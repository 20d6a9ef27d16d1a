// A commit ended at random moments, by kill -9 and by SIGTERM, with the new
// file unnamed (O_TMPFILE) and named from the start (O_TMPFILE refused, as
// on a file system without it): the package always opens, and is either
// the old one or the new one, entry for entry. SIGTERM leaves no file
// behind; kill -9 at most the temporary the library documents.
#include "kestrun/kestrun.h"
#include "rbd_writer.h"
#include "required.h"
#include "tempdir.h"
#include "writer_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const size_t kEntryBytes = size_t{8} << 20;

std::string Filled(char seed, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + i * 7 + i / 4093);
    }
    return bytes;
}

// Four entries of 8 MiB in "g".
std::string OldPackage() {
    PackLayout layout;
    layout.entries = {FileGroup("g", 4), FileEntry("e0", Filled('0', kEntryBytes)),
                      FileEntry("e1", Filled('1', kEntryBytes)),
                      FileEntry("e2", Filled('2', kEntryBytes)),
                      FileEntry("e3", Filled('3', kEntryBytes))};
    return BuildPackage(layout);
}

// The large edit: one entry replaced, one added, one removed, one moved.
int Edit(const std::string &package) {
    kr_package *base = nullptr;
    kr_writer *w = nullptr;
    if (kr_open(package.c_str(), 0, &base, nullptr) != KR_OK ||
        kr_writer_begin(base, package.c_str(), 0, &w, nullptr) != KR_OK) {
        return 2;
    }
    std::string replaced = Filled('r', kEntryBytes);
    std::string added = Filled('a', kEntryBytes);
    bool edited = kr_writer_put(w, "g/e1", replaced.data(), replaced.size(), nullptr) == KR_OK &&
                  kr_writer_put(w, "h/new", added.data(), added.size(), nullptr) == KR_OK &&
                  kr_writer_remove(w, "g/e2", nullptr) == KR_OK &&
                  kr_writer_rename(w, "g/e3", "h/e3", nullptr) == KR_OK;
    int code = edited ? kr_writer_commit(w, nullptr) : (kr_writer_abort(w), 3);
    kr_close(base);
    return code == KR_OK ? 0 : 4;
}

struct Outcome {
    bool old_one;
    bool new_one;
};

class LibraryWriterCrashTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        unnamed_ = GetParam();
        if (!unnamed_ && RunInChild([] { return DenyUnnamedFiles() ? 0 : 1; }) != 0) {
            SKIP_OR_FAIL_WITHOUT("O_TMPFILE can't be refused here (no seccomp on this host)");
        }
        package_ = scratch_ / "pkg.rbd";
        old_bytes_ = OldPackage();
        ASSERT_TRUE(WriteBytes(package_, old_bytes_));
        old_entries_ = Entries(OpenPackage(package_).get());
        ASSERT_EQ(RunEdit(), 0);
        new_entries_ = Entries(OpenPackage(package_).get());
        ASSERT_NE(new_entries_, old_entries_);
    }

    // The edit in a child process, as it runs there.
    int RunEdit() {
        return RunInChild([this] { return Prepare() ? Edit(package_) : 5; });
    }

    bool Prepare() const {
        return unnamed_ || DenyUnnamedFiles();
    }

    // Starts the edit in a child, ends it by `signal_number` after `delay`,
    // and gives what it left. The package is the old one again before.
    Outcome EndAt(int signal_number, std::chrono::microseconds delay) {
        EXPECT_TRUE(WriteBytes(package_, old_bytes_));
        pid_t child = fork();
        if (child == 0) {
            _exit(Prepare() ? Edit(package_) : 5);
        }
        std::this_thread::sleep_for(delay);
        kill(child, signal_number);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        Package pkg = OpenPackage(package_);
        std::vector<Entry> entries = pkg == nullptr ? std::vector<Entry>{} : Entries(pkg.get());
        return Outcome{entries == old_entries_, entries == new_entries_};
    }

    // The names beside the package: none, or the one temporary kill -9 may
    // leave (removed here for the next round).
    void CheckLeftovers(bool temporary_allowed) {
        static const std::regex temporary(R"(\.pkg\.rbd\.[0-9a-f]{8}\.(tmp|spool))");
        for (const std::string &name : Names(scratch_.path())) {
            if (name == "pkg.rbd") {
                continue;
            }
            EXPECT_TRUE(temporary_allowed && std::regex_match(name, temporary)) << name;
            fs::remove(scratch_ / name);
        }
    }

    TempDir scratch_;
    bool unnamed_ = true;
    std::string package_;
    std::string old_bytes_;
    std::vector<Entry> old_entries_;
    std::vector<Entry> new_entries_;
};

TEST_P(LibraryWriterCrashTest, PackageIsOldOrNewWheneverTheCommitIsEnded) {
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteBytes(package_, old_bytes_));
    ASSERT_EQ(RunEdit(), 0);
    auto span = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int64_t> moment(0, span.count() + span.count() / 4);
    int olds = 0;
    int news = 0;
    for (int round = 0; round < 24; ++round) {
        int signal_number = round % 3 == 2 ? SIGTERM : SIGKILL;
        Outcome outcome = EndAt(signal_number, std::chrono::microseconds(moment(random)));
        EXPECT_TRUE(outcome.old_one || outcome.new_one) << "round " << round;
        olds += outcome.old_one;
        news += outcome.new_one;
        CheckLeftovers(signal_number == SIGKILL);
    }
    // The moments span the whole edit: both ends are met.
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
}

INSTANTIATE_TEST_SUITE_P(TemporaryFile, LibraryWriterCrashTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &param) {
                             return param.param ? "Unnamed" : "Named";
                         });

} // namespace

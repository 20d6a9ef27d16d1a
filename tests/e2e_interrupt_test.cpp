// Signals at random moments of an extraction, one alone or two close
// together (an impatient double Ctrl-C): whatever step of whichever entry
// they meet, every file left under the output root is a whole entry, and
// the run ends by a signal it was sent. The same for -k over what an earlier
// run left.
#include "e2e.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Each case runs with one worker and with four (-j), whose signals one
// thread of their own takes.
class InterruptTest : public ExtractTest, public ::testing::WithParamInterface<int> {
  protected:
    // kestrun's words for an extraction of pkg.rbd into out/, quiet.
    std::vector<std::string> Args() const {
        return {"-j", std::to_string(GetParam()), "-q", "-d", "out", "pkg.rbd"};
    }
};

INSTANTIATE_TEST_SUITE_P(, InterruptTest, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int> &param) {
                             return "workers" + std::to_string(param.param);
                         });

using Clock = std::chrono::steady_clock;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int kTries = 40;
const uint64_t kTailSize = uint64_t{3} << 30;

// Four groups of 30 small entries and one of 2 MiB each, then a group
// holding "tail": 3 GiB read from a sparse package, so that no run gets to
// its end before its signals. `entries` maps each path but the tail's to its
// bytes.
std::string ManySmallAFewLarge(std::map<std::string, std::string> &entries) {
    PackLayout layout;
    std::mt19937 bytes(7);
    for (int g = 0; g < 4; ++g) {
        std::string group = "g" + std::to_string(g);
        layout.entries.push_back(FileGroup(group, 31));
        for (int i = 0; i < 30; ++i) {
            std::string name = "s" + std::to_string(i);
            std::string data =
                group + "/" + name + std::string(1 + (i * 37) % 300, static_cast<char>('a' + g));
            entries[group + "/" + name] = data;
            layout.entries.push_back(FileEntry(name, data));
        }
        std::string large(2u << 20, '\0');
        for (char &byte : large) {
            byte = static_cast<char>(bytes());
        }
        entries[group + "/large"] = large;
        layout.entries.push_back(FileEntry("large", large));
    }
    layout.entries.push_back(FileGroup("tail", 1));
    layout.entries.push_back(FileEntry("tail", ""));
    layout.entries.back().size = static_cast<uint32_t>(kTailSize);
    return BuildPackage(layout);
}

// What under `root` is not a whole entry, for the failure's message; empty
// when every file there is one.
std::string NotWhole(const std::string &root, const std::map<std::string, std::string> &entries) {
    std::error_code missing;
    for (const fs::directory_entry &item : fs::recursive_directory_iterator(root, missing)) {
        if (item.is_directory()) {
            continue;
        }
        std::string path = fs::relative(item.path(), root).generic_string();
        auto entry = entries.find(path);
        if (entry == entries.end()) {
            return path + " (" + std::to_string(item.file_size()) + " bytes) is left";
        }
        if (item.file_size() != entry->second.size() || ReadFile(item.path()) != entry->second) {
            return path + " holds " + std::to_string(item.file_size()) + " bytes, not its " +
                   std::to_string(entry->second.size());
        }
    }
    return "";
}

// Waits `us` microseconds: spinning for a few, as no sleep is that short.
void Pause(long long us) {
    auto until = Clock::now() + std::chrono::microseconds(us);
    if (us >= 100) {
        usleep(static_cast<useconds_t>(us));
    }
    while (Clock::now() < until) {
    }
}

// The run's wait status; a run still going after a minute is killed.
int WaitForEnd(pid_t pid) {
    auto deadline = Clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the run did not end";
            break;
        }
        usleep(200);
    }
    return status;
}

// How long a run takes to reach the tail, from its start, by which the
// tries' signals are timed. That run is ended by SIGINT there.
Clock::duration TimeToTail(const std::string &work, const std::vector<std::string> &args) {
    Clock::time_point start = Clock::now();
    pid_t pid = StartProgram("KESTRUN_BIN", work, args);
    std::error_code missing;
    while (!fs::exists(work + "/out/tail/tail", missing) && waitpid(pid, nullptr, WNOHANG) == 0) {
        usleep(200);
    }
    Clock::duration span = Clock::now() - start;
    kill(pid, SIGINT);
    WaitForEnd(pid);
    return span;
}

TEST_P(InterruptTest, RandomSignalsLeaveOnlyWholeEntries) {
    if (RunsWrapped()) {
        GTEST_SKIP() << "POSIX signals";
    }
    std::map<std::string, std::string> entries;
    std::string package = ManySmallAFewLarge(entries);
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), package));
    fs::resize_file(Work("pkg.rbd"), package.size() + kTailSize);
    // At most 0.3 s, so that a machine loaded at that moment does not make
    // every try long.
    long long span = std::min<long long>(
        std::chrono::duration_cast<std::chrono::microseconds>(TimeToTail(scratch_ / "work", Args()))
            .count(),
        300000);
    ASSERT_EQ(NotWhole(Work("out"), entries), "");

    unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    // Up to twice the span: half the signals come while the tail is copied,
    // the other half while the other entries are made and written.
    std::uniform_int_distribution<long long> delay(0, 2 * span);
    std::uniform_int_distribution<int> signal(0, 2);
    // A second signal half the time a few microseconds behind the first,
    // where it may meet the first one's delivery, a quarter of the time up to
    // 2 ms behind; else none.
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> near(0, 30);
    std::uniform_int_distribution<int> far(30, 2000);
    for (int attempt = 0; attempt < kTries; ++attempt) {
        // Every other run keeps (-k) what the one before it left.
        bool keep = attempt % 2 == 1;
        if (!keep) {
            fs::remove_all(Work("out"));
        }
        int first = kSignals[signal(random)];
        int second = kSignals[signal(random)];
        long long wait_us = delay(random);
        int gap_kind = kind(random);
        int gap_us = gap_kind == 0 ? -1 : gap_kind == 1 ? far(random) : near(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", try " + std::to_string(attempt) +
                     (keep ? " (-k)" : "") + ": signal " + std::to_string(first) + " after " +
                     std::to_string(wait_us) + " us, then " +
                     (gap_us < 0
                          ? "none"
                          : std::to_string(second) + " " + std::to_string(gap_us) + " us later"));
        std::vector<std::string> args = Args();
        if (keep) {
            args.insert(args.begin(), "-k");
        }
        pid_t pid = StartProgram("KESTRUN_BIN", scratch_ / "work", args);
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(wait_us));
        ASSERT_EQ(kill(pid, first), 0);
        if (gap_us >= 0) {
            Pause(gap_us);
            kill(pid, second);
        }
        int status = WaitForEnd(pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "ended with status " << WEXITSTATUS(status);
        EXPECT_TRUE(WTERMSIG(status) == first || (gap_us >= 0 && WTERMSIG(status) == second))
            << "ended by signal " << WTERMSIG(status);
        ASSERT_EQ(NotWhole(Work("out"), entries), "");
    }
}

} // namespace

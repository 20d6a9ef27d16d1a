// Hostile packages through the built binary: thousands of mutations of
// well-formed packages (fixed seeds, so every run sees the same ones), very
// deep and very wide indexes, and every input the fuzzer ever kept. Each run
// must end with status 1, or with "Done!" and 0 (no warning) or 2 (warnings),
// within its time, with nothing on stderr, with
// nothing created or changed outside the output root, and holding no more
// memory than the package has bytes plus a few MiB.
#include "rbd_writer.h"
#include "run.h"
#include "tempdir.h"

#include <gtest/gtest.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

const long kMemorySlackKiB = 4L * 1024;

// The memory check compares each run with a run on a tiny package. A child's
// peak RSS also counts what the test process held when it forked, so the test
// keeps itself small: big buffers are given back to the system when freed.
long baseline_rss_kib;

void KeepTestProcessSmall() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    malloc_trim(0);
#endif
}

// The sanitizers' runtime inflates memory, and a wrapper is a process of its
// own: their figures say nothing about kestrun.
bool EndsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Sanitized() {
#ifdef KESTRUN_SANITIZED
    return true;
#else
    return false;
#endif
}

bool MeasuresMemory() {
    return !Sanitized() && !RunsWrapped();
}

// Runs kestrun from scratch/work on a package stored in scratch/in, so that
// the package too lies outside the output root. A four-character file name
// makes the working directory itself the output root.
struct HostileRun {
    RunResult result;
    std::string problem; // empty when every check held
};

// `memory_factor` times the package's size is the memory a run may use on top
// of the baseline and a few MiB.
HostileRun RunHostile(const std::string &bytes, bool empty_root, long memory_factor = 1) {
    KeepTestProcessSmall();
    TempDir scratch;
    std::filesystem::create_directory(scratch / "in");
    std::filesystem::create_directory(scratch / "work");
    std::string name = empty_root ? "pack" : "pack.rbd";
    HostileRun run;
    if (!WriteBytes(scratch / ("in/" + name), bytes)) {
        run.problem = "cannot write the package";
        return run;
    }
    RunOptions options;
    options.timeout_seconds = 20;
    run.result = RunKestrun(scratch / "work", {"../in/" + name}, options);
    const RunResult &result = run.result;
    if (result.timed_out) {
        run.problem = "did not end in time";
    } else if (result.signal != 0) {
        run.problem = "ended by signal " + std::to_string(result.signal);
    } else if (result.status != 0 && result.status != 1 && result.status != 2) {
        run.problem = "ended with status " + std::to_string(result.status);
    } else if (result.status != 1 && !EndsWith(result.out, "Done!\n")) {
        run.problem = "ended with status " + std::to_string(result.status) + " before \"Done!\"";
    } else if (result.status != 1 &&
               (result.status == 2) != (result.out.find("WARNING: ") != std::string::npos)) {
        run.problem = "status " + std::to_string(result.status) + " disagrees with its warnings";
    } else if (!result.err.empty()) {
        run.problem = "wrote to stderr: " + result.err.substr(0, 2000);
    }
    if (!run.problem.empty()) {
        return run;
    }
    std::string root = empty_root ? "work/" : "work/pack/";
    for (const std::string &path : ListTree(scratch.path())) {
        bool allowed =
            path == "in/" || path == "in/" + name || path == "work/" || path.rfind(root, 0) == 0;
        if (!allowed) {
            run.problem = "created outside the output root: " + path;
            return run;
        }
    }
    if (ReadFile(scratch / ("in/" + name)) != bytes) {
        run.problem = "the package itself was changed";
    } else if (MeasuresMemory() &&
               result.peak_rss_kib > baseline_rss_kib +
                                         memory_factor * static_cast<long>(bytes.size() / 1024) +
                                         kMemorySlackKiB) {
        run.problem = "peak RSS " + std::to_string(result.peak_rss_kib) + " KiB for a package of " +
                      std::to_string(bytes.size()) + " bytes";
    }
    return run;
}

// --- well-formed packages to start from ------------------------------------

std::vector<std::string> BasePackages() {
    PackLayout flat;
    flat.entries = {FileGroup("g", 3), FileEntry("a", "alpha"), FileEntry("b", ""),
                    FileEntry("c", std::string(300, 'c'))};

    PackLayout nested;
    nested.entries = {DirectoryGroup("data", 2),  FileGroup("snd", 2),
                      FileEntry("a.wav", "aaaa"), FileEntry("b.wav", "bbbbbbbb"),
                      FileGroup("txt", 1),        FileEntry("readme.txt", "read me\n"),
                      FileGroup("sfx", 1),        FileEntry("boom.wav", "boom")};

    PackLayout deep;
    for (int i = 0; i < 8; ++i) {
        deep.entries.push_back(DirectoryGroup("level" + std::to_string(i), 1));
    }
    deep.entries.push_back(FileGroup("leaf", 2));
    deep.entries.push_back(FileEntry("x", "x"));
    deep.entries.push_back(FileEntry("y", "yy"));

    PackLayout mixed;
    mixed.entries = {FileGroup("none", 0), DirectoryGroup("d", 2),     FileGroup("e", 1),
                     FileEntry("f", "f"),  DirectoryGroup("inner", 1), FileGroup("g", 1),
                     FileEntry("h", "h")};
    return {BuildPackage(flat), BuildPackage(nested), BuildPackage(deep), BuildPackage(mixed)};
}

// --- mutations ---------------------------------------------------------------

struct Mutator {
    std::mt19937 engine;
    uint32_t Below(uint32_t bound) {
        return static_cast<uint32_t>(engine() % bound);
    }
};

size_t RecordCount(const std::string &bytes) {
    return bytes.size() > RBD_HEADER_SIZE ? (bytes.size() - RBD_HEADER_SIZE) / RBD_RECORD_SIZE : 0;
}

void PutBig32(std::string &bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    }
}

void FlipBits(Mutator &m, std::string &bytes) {
    uint32_t flips = 1 + m.Below(8);
    for (uint32_t i = 0; i < flips && !bytes.empty(); ++i) {
        size_t at = m.Below(static_cast<uint32_t>(bytes.size()));
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << m.Below(8)));
    }
}

void Truncate(Mutator &m, std::string &bytes) {
    bytes.resize(m.Below(static_cast<uint32_t>(bytes.size())));
}

// A count, size, offset or kind of an extreme value, in the header or in one
// of the index records.
void ExtremeField(Mutator &m, std::string &bytes) {
    const auto size = static_cast<uint32_t>(bytes.size());
    const uint32_t extremes[] = {0,          1,          2,          0x7F,       0xFF,
                                 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, size,
                                 size - 1,   size + 1,   0x01010000, 0x01000000, 0x00010001};
    uint32_t value = extremes[m.Below(sizeof extremes / sizeof extremes[0])];
    size_t records = RecordCount(bytes);
    if (records == 0 || m.Below(4) == 0) {
        PutBig32(bytes, offsetof(RBDHeader, num_indices), value);
    } else {
        PutBig32(bytes,
                 RBD_HEADER_SIZE + RBD_RECORD_SIZE * m.Below(static_cast<uint32_t>(records)) +
                     size_t{4} * m.Below(3),
                 value);
    }
}

void HostileName(Mutator &m, std::string &bytes) {
    const char *names[] = {"..",  ".",    "/",     "a/b",     "\\", "..\\x", "C:",
                           "c:x", "/etc", "../..", "x/../..", "",   "a\\..", "./."};
    size_t records = RecordCount(bytes);
    if (records == 0) {
        return;
    }
    size_t at = RBD_HEADER_SIZE + RBD_RECORD_SIZE * m.Below(static_cast<uint32_t>(records)) +
                RBD_NAME_OFFSET;
    std::string name;
    if (m.Below(4) == 0) {
        // No zero byte in the whole field.
        name.assign(RBD_NAME_FIELD, static_cast<char>('a' + m.Below(26)));
        if (m.Below(2) == 0) {
            name.replace(0, 2, "..");
        }
    } else {
        name = names[m.Below(sizeof names / sizeof names[0])];
        name.push_back('\0');
    }
    bytes.replace(at, name.size(), name);
}

std::string Mutate(Mutator &m, std::string bytes) {
    uint32_t steps = 1 + m.Below(3);
    for (uint32_t i = 0; i < steps; ++i) {
        switch (m.Below(4)) {
        case 0:
            FlipBits(m, bytes);
            break;
        case 1:
            ExtremeField(m, bytes);
            break;
        case 2:
            HostileName(m, bytes);
            break;
        default:
            if (m.Below(3) == 0) {
                Truncate(m, bytes);
            } else {
                FlipBits(m, bytes);
            }
            break;
        }
    }
    return bytes;
}

std::string Describe(const HostileRun &run) {
    return run.problem + "\nstatus " + std::to_string(run.result.status) + ", stdout:\n" +
           run.result.out.substr(0, 4000);
}

class RobustnessTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        PackLayout tiny;
        tiny.entries = {FileGroup("g", 1), FileEntry("f", "f")};
        HostileRun run = RunHostile(BuildPackage(tiny), false);
        baseline_rss_kib = run.result.peak_rss_kib;
    }
};

TEST_F(RobustnessTest, MutatedPackages) {
    // A sanitized process takes ten times as long to start and end, so a
    // sanitized build runs the first fifth of the same mutations.
    const int kPerBase = Sanitized() ? 150 : 750;
    std::vector<std::string> bases = BasePackages();
    int failures = 0;
    int completed = 0;
    long peak_over_baseline = 0;
    for (size_t base = 0; base < bases.size(); ++base) {
        Mutator m{std::mt19937(static_cast<uint32_t>(1000 + base))};
        for (int i = 0; i < kPerBase && failures < 5; ++i) {
            std::string bytes = Mutate(m, bases[base]);
            HostileRun run = RunHostile(bytes, m.Below(8) == 0);
            if (!run.problem.empty()) {
                ++failures;
                ADD_FAILURE() << "base " << base << ", mutation " << i << ": " << Describe(run);
            }
            completed += run.result.status != 1 ? 1 : 0;
            peak_over_baseline =
                std::max(peak_over_baseline, run.result.peak_rss_kib - baseline_rss_kib);
        }
    }
    std::printf("%zu mutated packages, %d extracted to the end; baseline peak RSS %ld KiB, "
                "highest peak above it %ld KiB\n",
                bases.size() * kPerBase, completed, baseline_rss_kib, peak_over_baseline);
}

// Nesting far beyond what any path can hold, with names of one character and
// with empty names (the shortest components there are).
TEST_F(RobustnessTest, HundredsOfThousandsOfNestedDirectories) {
    const uint32_t kDepth = 300000;
    for (const char *name : {"d", ""}) {
        std::string bytes = EncodeHeader(kDepth + 2);
        bytes.reserve(RBD_HEADER_SIZE + RBD_RECORD_SIZE * (kDepth + 2));
        for (uint32_t i = 0; i < kDepth; ++i) {
            bytes += EncodeGroupRecord(RBD_DIRECTORY_GROUP, 1, 0, name);
        }
        bytes += EncodeGroupRecord(RBD_FILE_GROUP, 1, 1, "leaf") + EncodeFileRecord(0, 0, "f");
        HostileRun run = RunHostile(bytes, false);
        EXPECT_EQ(run.problem, "") << Describe(run);
        EXPECT_EQ(run.result.status, 1);
    }
}

// Every index record a top-level group of an unknown kind, up to a header
// count of 0xFFFFFFFF: the walk ends where the package ends. Top-level groups
// are kept for the whole run, each 96-byte record as a node of 128 bytes and
// the allocator's overhead, so this one shape may use up to twice the
// package's size.
TEST_F(RobustnessTest, HundredThousandTopLevelGroups) {
    const uint32_t kGroups = 100000;
    std::string bytes = EncodeHeader(0xFFFFFFFF);
    bytes.reserve(RBD_HEADER_SIZE + RBD_RECORD_SIZE * kGroups);
    for (uint32_t i = 0; i < kGroups; ++i) {
        bytes += EncodeGroupRecord(0x02000000, 0xFFFFFFFF, 0xFFFFFFFF, "u");
    }
    HostileRun run = RunHostile(bytes, false, 2);
    EXPECT_EQ(run.problem, "") << Describe(run);
    EXPECT_EQ(run.result.status, 1);
}

// Entries large enough to be given their own mapping, read again and again
// from the same bytes: each entry's memory must be given back before the next.
TEST_F(RobustnessTest, LargeEntriesReadManyTimes) {
    const uint32_t kRecords = 24;
    const uint32_t kData = (6u << 20) + 123;
    std::string bytes =
        EncodeHeader(2 + kRecords) + EncodeGroupRecord(RBD_FILE_GROUP, kRecords, 0, "g");
    auto data_start = static_cast<uint32_t>(RBD_HEADER_SIZE + RBD_RECORD_SIZE * (1 + kRecords));
    for (uint32_t i = 0; i < kRecords; ++i) {
        uint32_t size = kData - i * 4096;
        bytes += EncodeFileRecord(size, data_start + i, "e" + std::to_string(i % 3));
    }
    bytes += std::string(kData + kRecords, 'd');
    HostileRun run = RunHostile(bytes, false);
    EXPECT_EQ(run.problem, "") << Describe(run);
    EXPECT_EQ(run.result.status, 0);
}

// Every input the fuzzer was seeded with or that ever found a fault.
TEST_F(RobustnessTest, FuzzCorpusAndRegressions) {
    int files = 0;
    for (const char *dir : {"corpus", "regressions"}) {
        std::filesystem::path path = std::filesystem::path(KESTRUN_FUZZ_DIR) / dir;
        if (!std::filesystem::exists(path)) {
            continue;
        }
        for (const auto &item : std::filesystem::directory_iterator(path)) {
            std::string bytes = ReadFile(item.path().string());
            bool empty_root = bytes.size() > 3 && (bytes[3] & 1) != 0;
            HostileRun run = RunHostile(bytes, empty_root);
            EXPECT_EQ(run.problem, "") << item.path() << ": " << Describe(run);
            ++files;
        }
    }
    EXPECT_GT(files, 20);
}

} // namespace

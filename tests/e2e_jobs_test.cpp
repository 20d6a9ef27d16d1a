// Extraction with four workers against one: the same lines, the same status
// and the same tree, byte for byte, through the classic run (KESTRUN_JOBS),
// option mode (-j), the library (kr_extract_options.threads) and the
// hashing of -t --sha256, on
// packages whose entries a careless worker pool would reorder: paths that
// repeat or lie on each other's way, refused names, data past the end,
// copies cut by a file size limit, damage in the index.
#include "e2e.h"

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// A run as the tests compare it: its output, status and the tree it left,
// each file with its bytes.
struct Seen {
    std::string out;
    std::string err;
    int status;
    int signal;
    std::vector<std::string> tree;
};

bool operator==(const Seen &a, const Seen &b) {
    return a.out == b.out && a.err == b.err && a.status == b.status && a.signal == b.signal &&
           a.tree == b.tree;
}

void PrintTo(const Seen &seen, std::ostream *out) {
    *out << "status " << seen.status << ", signal " << seen.signal << "\n--- out:\n"
         << seen.out << "--- err:\n"
         << seen.err << "--- tree:\n";
    for (const std::string &path : seen.tree) {
        *out << path << "\n";
    }
}

// How a run is started: the program, its words, and its workers.
struct Face {
    const char *name;
    const char *binary_variable;
    std::vector<std::string> args; // "@" stands for the number of workers
};

const Face kFaces[] = {
    {"classic run", "KESTRUN_BIN", {"pkg.rbd"}},
    {"option mode", "KESTRUN_BIN", {"-x", "-j", "@", "pkg.rbd"}},
    {"option mode, -k", "KESTRUN_BIN", {"-x", "-k", "-j", "@", "pkg.rbd"}},
    {"kr_extract", "KR_DRIVER_BIN", {"pkg.rbd", "pkg"}},
    {"test, --sha256", "KESTRUN_BIN", {"-t", "--sha256", "-j", "@", "pkg.rbd"}},
};

class JobsTest : public ExtractTest {
  protected:
    // Runs `face` with `workers` on work/pkg.rbd in a directory of its own,
    // which holds `before` (a file "pkg/a/x" for -k to keep) and nothing else.
    Seen Run(const Face &face, int workers, const RunOptions &options) {
        std::string dir = Work("run" + std::to_string(runs_++));
        fs::create_directories(dir + "/pkg/a");
        EXPECT_TRUE(WriteBytes(dir + "/pkg/a/x", "there before"));
        fs::copy_file(Work("pkg.rbd"), dir + "/pkg.rbd");
        std::string count = std::to_string(workers);
        setenv("KESTRUN_JOBS", count.c_str(), 1);
        setenv("KR_DRIVER_THREADS", count.c_str(), 1);
        std::vector<std::string> args = face.args;
        for (std::string &word : args) {
            word = word == "@" ? count : word;
        }
        RunResult run = RunProgram(face.binary_variable, dir, args, options);
        fs::remove(dir + "/pkg.rbd");
        Seen seen{run.out, run.err, run.status, run.signal, {}};
        for (const std::string &path : ListTree(dir)) {
            bool file = path.back() != '/';
            seen.tree.push_back(file ? path + " = " + ReadFile(dir + "/" + path) : path);
        }
        return seen;
    }

    // Every face gives with four workers, three times over, what it gives
    // with one.
    // Under Wine, the library's driver is not built for Windows, and a file
    // size limit is a POSIX process limit.
    void ExpectSameWithFour(const PackLayout &layout, RunOptions options = {}) {
        ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(layout)));
        if (RunsWrapped()) {
            options.file_size_limit = 0;
        }
        for (const Face &face : kFaces) {
            if (RunsWrapped() && std::string(face.binary_variable) == "KR_DRIVER_BIN") {
                continue;
            }
            SCOPED_TRACE(face.name);
            Seen serial = Run(face, 1, options);
            for (int again = 0; again < 3; ++again) {
                EXPECT_EQ(Run(face, 4, options), serial);
            }
        }
        unsetenv("KESTRUN_JOBS");
        unsetenv("KR_DRIVER_THREADS");
    }

    int runs_ = 0;
};

// Small entries to keep the other workers busy meanwhile.
void AddSmallGroup(PackLayout &layout, const std::string &name, int count) {
    layout.entries.push_back(FileGroup(name, static_cast<uint32_t>(count)));
    for (int i = 0; i < count; ++i) {
        layout.entries.push_back(FileEntry("f" + std::to_string(i), name + std::to_string(i)));
    }
}

TEST_F(JobsTest, PathsThatMeetComeOutAsWithOneWorker) {
    PackLayout layout;
    AddSmallGroup(layout, "m", 30);
    // A large entry, cut by the file size limit, then a small one of the
    // same path; and an entry that -k keeps.
    layout.entries.push_back(FileGroup("a", 3));
    layout.entries.push_back(FileEntry("big", std::string(256 << 10, 'B')));
    layout.entries.push_back(FileEntry("big", "small after big"));
    layout.entries.push_back(FileEntry("x", "a/x of the package"));
    // Files of the paths of directories, and the other way round.
    layout.entries.push_back(FileGroup("", 2));
    layout.entries.push_back(FileEntry("a", "a file where a/ is"));
    layout.entries.push_back(FileEntry("b", "b, made before b/"));
    layout.entries.push_back(FileGroup("b", 1));
    layout.entries.push_back(FileEntry("y", "b/y"));
    layout.entries.push_back(DirectoryGroup("a", 1));
    layout.entries.push_back(FileGroup("big", 1));
    layout.entries.push_back(FileEntry("inner", "below a file"));
    AddSmallGroup(layout, "n", 20);
    // Refused names, a group whose only entry is "..", and data past the end.
    layout.entries.push_back(FileGroup("c", 1));
    layout.entries.push_back(FileEntry("..", "up"));
    layout.entries.push_back(FileGroup("d", 3));
    layout.entries.push_back(FileEntry("../evil", "out"));
    layout.entries.push_back(FileEntry("ok", "d/ok"));
    layout.entries.push_back(FileEntry("past", ""));
    layout.entries.back().size = 5000;
    layout.entries.back().offset = 1u << 30;
    layout.entries.push_back(FileGroup("m", 2));
    layout.entries.push_back(FileEntry("f3", "m/f3 again"));
    layout.entries.push_back(FileEntry("", "no name"));
    RunOptions options;
    options.file_size_limit = 64 << 10;
    ExpectSameWithFour(layout, options);
}

TEST_F(JobsTest, DamageAndUnknownGroupsAreToldWhereTheSerialRunTellsThem) {
    PackLayout layout;
    AddSmallGroup(layout, "m", 25);
    layout.entries.push_back(FileGroup("odd", 3));
    layout.entries.back().flags = 7; // a group of unknown kind
    layout.entries.push_back(FileEntry("o1", "odd 1"));
    layout.entries.push_back(FileEntry("o2", "odd 2"));
    layout.entries.push_back(FileEntry("o3", "odd 3"));
    AddSmallGroup(layout, "n", 25);
    // The last group claims more records than the index holds.
    layout.entries.push_back(FileGroup("cut", 40));
    layout.entries.push_back(FileEntry("c1", "cut 1"));
    layout.header_count = static_cast<uint32_t>(layout.entries.size() + 10);
    ExpectSameWithFour(layout);

    // Damage found after some entries: the lines of every entry before it,
    // then the error.
    PackLayout missing;
    AddSmallGroup(missing, "m", 40);
    missing.entries.push_back(DirectoryGroup("dir", 3));
    AddSmallGroup(missing, "dir1", 10);
    missing.header_count = static_cast<uint32_t>(missing.entries.size());
    ExpectSameWithFour(missing);
}

TEST_F(JobsTest, ANumberOfWorkersIsAWholeNumberFromOne) {
    ASSERT_TRUE(WriteBytes(Work("pkg.rbd"), BuildPackage(SoundAndText())));
    const std::string help = "Try \"kestrun --help\" for more information.\n";
    RunResult empty = RunKestrun(Work(""), {"-x", "--jobs=", "pkg.rbd"});
    EXPECT_EQ(empty.err, "ERROR: Option \"--jobs\" needs a number of workers!\n" + help);
    EXPECT_EQ(empty.status, 1);
    for (const char *wrong : {"0", "-1", "two", "2x"}) {
        SCOPED_TRACE(wrong);
        RunResult run = RunKestrun(Work(""), {"-x", "-j", wrong, "pkg.rbd"});
        EXPECT_EQ(run.err, "ERROR: Option \"-j\" needs a number of workers from 1 up, not \"" +
                               std::string(wrong) + "\"!\n" + help);
        EXPECT_EQ(run.status, 1);
        setenv("KESTRUN_JOBS", wrong, 1);
        RunResult classic = RunKestrun(Work(""), {"pkg.rbd"});
        unsetenv("KESTRUN_JOBS");
        EXPECT_EQ(classic.out, std::string(kBanner) + "ERROR: KESTRUN_JOBS is \"" + wrong +
                                   "\", not a number of workers from 1 up, aborting!\n");
        EXPECT_EQ(classic.status, 1);
    }
    EXPECT_FALSE(fs::exists(Work("pkg")));
}

} // namespace

// libFuzzer target: loads and extracts each input as a package with the real
// loader and entry writer, in a sandbox directory, and checks after every
// input what must hold for any package:
//  - the load either returns or ends through RBD_Exit with status 1;
//  - nothing outside the output root was created or changed (the package file
//    itself included);
//  - no allocation outlived the run except what the program keeps on purpose
//    (the package and its top-level groups), and no stream was left open;
//  - the memory held at any moment stayed within a few times the input size.
//
// RBD_Exit ends the process in the program; this target is linked with
// --wrap so that every call of it throws FatalExit back to here instead (see
// fuzz/README.md).
#include "../src/extract/output_budget.h"
#include "../src/extract/writer.h"
#include "../src/package/loader.h"
#include "../src/types.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <pthread.h>
#include <sanitizer/allocator_interface.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct FatalExit {
    int status;
};

// The fuzzer chooses the package's file name with a bit of the header's
// unused0 field, which the program never reads: "pack.rbd" gives the output
// root "pack", "pack" gives the empty root, the working directory itself.
bool UsesEmptyRoot(const uint8_t *data, size_t size) {
    return size > 3 && (data[3] & 1) != 0;
}

// --- allocation tracking -------------------------------------------------

// Allocations made by the program during one load, so that what it keeps on
// purpose until the process ends can be given back between inputs.
struct Allocation {
    const volatile void *pointer;
    size_t size;
};
const size_t kMaxTracked = 1 << 16;
Allocation tracked[kMaxTracked];
size_t tracked_count;
bool tracking;
bool table_overflow;
pthread_t tracked_thread;
size_t live_bytes;
size_t peak_bytes;

bool OnTrackedThread() {
    return tracking && pthread_equal(pthread_self(), tracked_thread) != 0;
}

void MallocHook(const volatile void *pointer, size_t size) {
    if (!OnTrackedThread()) {
        return;
    }
    if (tracked_count == kMaxTracked) {
        table_overflow = true;
        return;
    }
    tracked[tracked_count++] = {pointer, size};
    live_bytes += size;
    if (live_bytes > peak_bytes) {
        peak_bytes = live_bytes;
    }
}

void FreeHook(const volatile void *pointer) {
    if (!OnTrackedThread() || pointer == nullptr) {
        return;
    }
    for (size_t i = tracked_count; i-- > 0;) {
        if (tracked[i].pointer == pointer) {
            live_bytes -= tracked[i].size;
            tracked[i] = tracked[--tracked_count];
            return;
        }
    }
}

// Forgets one tracked allocation; false when it was not tracked.
bool Untrack(const void *pointer) {
    for (size_t i = 0; i < tracked_count; ++i) {
        if (tracked[i].pointer == pointer) {
            tracked[i] = tracked[--tracked_count];
            return true;
        }
    }
    return false;
}

[[noreturn]] void Fault(const char *what) {
    std::fprintf(stderr, "kestrun_fuzz: %s\n", what);
    std::abort();
}

// --- the sandbox ---------------------------------------------------------

std::string sandbox;      // holds only "in" and "work"
std::string package_file; // sandbox/in/<name>, outside the output root
std::string work_dir;     // the working directory of the load
int lowest_free_fd;
int start_dir = -1;

int RemoveEntry(const char *path, const struct stat * /*info*/, int /*type*/,
                struct FTW * /*walk*/) {
    return std::remove(path);
}

void RemoveTree(const std::string &path) {
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

int LowestFreeDescriptor() {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
    }
    return fd;
}

// Names in `dir`, other than "." and "..", sorted, as one text "a|b|".
std::string ListDirectory(const std::string &dir) {
    std::vector<std::string> names;
    DIR *handle = opendir(dir.c_str());
    if (handle == nullptr) {
        Fault("sandbox directory vanished");
    }
    while (const dirent *entry = readdir(handle)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(handle);
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string &name : names) {
        listing += name + "|";
    }
    return listing;
}

bool SameBytes(const std::string &path, const uint8_t *data, size_t size) {
    FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    std::string bytes(size + 1, '\0');
    size_t got = std::fread(bytes.data(), 1, size + 1, in);
    std::fclose(in);
    return got == size && (size == 0 || std::memcmp(bytes.data(), data, size) == 0);
}

// Everything the load may touch lies in the output root: the directory
// named "pack" in the working directory, or the working directory itself.
void CheckSandbox(const uint8_t *data, size_t size, bool empty_root) {
    if (ListDirectory(sandbox) != "in|work|") {
        Fault("something was created beside the working directory");
    }
    std::string name = empty_root ? "pack" : "pack.rbd";
    if (ListDirectory(sandbox + "/in") != name + "|") {
        Fault("something was created beside the package");
    }
    if (!SameBytes(package_file, data, size)) {
        Fault("the package file was changed");
    }
    if (!empty_root) {
        std::string work = ListDirectory(work_dir);
        struct stat st {};
        if (!work.empty() && (work != "pack|" || lstat((work_dir + "/pack").c_str(), &st) != 0 ||
                              !S_ISDIR(st.st_mode))) {
            Fault("something other than the output root was created in the working directory");
        }
    }
}

void ClearWorkDirectory() {
    RemoveTree(work_dir);
    if (mkdir(work_dir.c_str(), 0700) != 0) {
        Fault("cannot recreate the working directory");
    }
}

// Gives back what a successful load keeps until the process ends: the
// package, its top-level groups and their file tables. Anything else still
// held was lost by the program.
void ReleasePackage(RBDPackage *package) {
    RBDGroup *group = package->groups;
    while (group != nullptr) {
        RBDGroup *next = group->next;
        if (group->files != nullptr && !Untrack(group->files)) {
            Fault("file table not allocated by the load");
        }
        if (!Untrack(group)) {
            Fault("group not allocated by the load");
        }
        std::free(group->files);
        std::free(group);
        group = next;
    }
    if (!Untrack(package)) {
        Fault("package not allocated by the load");
    }
    std::free(package);
}

void ResetProgramState(bool empty_root) {
    std::strcpy(package_name, empty_root ? "" : "pack");
    fp = nullptr;
    num_indices = 0;
    package_size = 0;
    // The budget of what one run may write starts again with each input.
    RBD_ResetOutputBudget();
}

} // namespace

// Replaces the program's RBD_Exit in this target (linked with --wrap).
extern "C" [[noreturn]] void __wrap__Z8RBD_Exiti(int status) {
    std::fflush(stdout);
    throw FatalExit{status};
}

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
    // The program's console output is of no interest here; a static buffer
    // keeps stdout from allocating inside a tracked load.
    static char stdout_buffer[1 << 16];
    if (std::getenv("KESTRUN_FUZZ_VERBOSE") == nullptr &&
        std::freopen("/dev/null", "w", stdout) == nullptr) {
        Fault("cannot silence stdout");
    }
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

    char pattern[] = "/tmp/kestrun-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        Fault("cannot create the sandbox");
    }
    sandbox = pattern;
    work_dir = sandbox + "/work";
    if (mkdir((sandbox + "/in").c_str(), 0700) != 0 || mkdir(work_dir.c_str(), 0700) != 0) {
        Fault("cannot prepare the sandbox");
    }
    // The fuzzer's own paths (corpus, artifacts, inputs) stay relative to
    // where it was started; only the load runs in the sandbox.
    start_dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (start_dir < 0) {
        Fault("cannot open the starting directory");
    }
    std::atexit([] { RemoveTree(sandbox); });
    if (__sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook) == 0) {
        Fault("cannot install allocation hooks");
    }
    tracked_thread = pthread_self();
    lowest_free_fd = LowestFreeDescriptor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    bool empty_root = UsesEmptyRoot(data, size);
    package_file = sandbox + (empty_root ? "/in/pack" : "/in/pack.rbd");
    RemoveTree(sandbox + "/in");
    mkdir((sandbox + "/in").c_str(), 0700);
    FILE *out = std::fopen(package_file.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) {
        Fault("cannot write the package");
    }
    std::string path = empty_root ? "../in/pack" : "../in/pack.rbd";

    ResetProgramState(empty_root);
    tracked_count = 0;
    live_bytes = 0;
    peak_bytes = 0;
    table_overflow = false;
    tracking = true;
    RBDPackage *package = nullptr;
    if (chdir(work_dir.c_str()) != 0) {
        Fault("cannot enter the working directory");
    }
    try {
        package = RBD_LoadPackage(path.c_str());
    } catch (const FatalExit &exit) {
        if (exit.status != 1) {
            Fault("a fatal error ended with a status other than 1");
        }
    }
    if (fchdir(start_dir) != 0) {
        Fault("cannot return to the starting directory");
    }
    if (package != nullptr) {
        if (fp != nullptr) {
            Fault("the package stream was left open after a load");
        }
        ReleasePackage(package);
        if (tracked_count != 0) {
            Fault("memory leaked by a successful load");
        }
    } else {
        // A fatal error leaves open what the process would have left to
        // exit: the package stream and the entry writer's group directory.
        if (fp != nullptr) {
            std::fclose(fp);
            fp = nullptr;
        }
        RBD_CloseOutput();
    }
    tracking = false;
    if (table_overflow) {
        Fault("too many allocations live at once");
    }
    if (LowestFreeDescriptor() != lowest_free_fd) {
        Fault("a file descriptor was left open");
    }
    // A fatal error keeps what it held until the process ends.
    for (size_t i = 0; i < tracked_count; ++i) {
        std::free(const_cast<void *>(tracked[i].pointer));
    }
    tracked_count = 0;
    if (peak_bytes > 3 * size + (1u << 20)) {
        Fault("the load held far more memory than the package has bytes");
    }

    CheckSandbox(data, size, empty_root);
    ClearWorkDirectory();
    return 0;
}

// libFuzzer target: loads and extracts each input as a package with the real
// loader and entry writer, in a sandbox directory, then opens it with the
// library (plain and partial) and reads every entry, and checks after every
// input what must hold for any package:
//  - the load either returns or ends through RBD_Exit with status 1;
//  - nothing outside the output root was created or changed (the package file
//    itself included);
//  - no allocation outlived the run except what the program keeps on purpose
//    (the package and its top-level groups), and no descriptor was left open;
//  - the memory held at any moment stayed within a few times the input size;
//  - the library agrees with itself: a partial open keeps what a plain open
//    keeps, every entry reads as the input's bytes, every path is found;
//  - the library's writer edits what a partial open keeps (an entry put,
//    one renamed, the entries of a path removed), and the package it
//    commits opens without damage and holds what the edit says, entry for
//    entry, leaving nothing else beside it.
//
// RBD_Exit ends the process in the program; this target is linked with
// --wrap so that every call of it throws FatalExit back to here instead (see
// fuzz/README.md).
#include "../src/cli/loader.h"
#include "../src/cli/run_state.h"
#include "kestrun/kestrun.h"

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
int start_dir = -1;

int RemoveEntry(const char *path, const struct stat * /*info*/, int /*type*/,
                struct FTW * /*walk*/) {
    return std::remove(path);
}

void RemoveTree(const std::string &path) {
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// True when no descriptor is open on anything in the sandbox: the package
// and the output tree are all that a load or the library opens there, so a
// descriptor left open by either shows here. A descriptor that the fuzzing
// engine's own threads hold for a moment lies elsewhere and doesn't count,
// however the numbers fall.
bool NoDescriptorLeft() {
    DIR *open_fds = opendir("/proc/self/fd");
    if (open_fds == nullptr) {
        Fault("cannot list the open descriptors");
    }
    bool none = true;
    while (const dirent *entry = readdir(open_fds)) {
        char target[4096] = {};
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
            std::strncmp(target, sandbox.c_str(), sandbox.size()) == 0) {
            none = false;
        }
    }
    closedir(open_fds);
    return none;
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

// Loads the package at `path` as the classic run does, with a run record of
// its own, as a fresh process starts with. After a successful load nothing
// may be held but the package, which is given back. The record goes before
// this returns, while allocations are still tracked, so that what is still
// tracked after a fatal error is what the program keeps until exit.
void LoadAsARun(const std::string &path, bool empty_root) {
    RBDRun run{};
    run.package.path = path.c_str();
    std::strcpy(run.package.root_name, empty_root ? "" : "pack");
    RBDPackage *package = nullptr;
    try {
        package = RBD_LoadPackage(run);
    } catch (const FatalExit &exit) {
        if (exit.status != 1) {
            Fault("a fatal error ended with a status other than 1");
        }
    }
    if (run.package.fd != -1) {
        Fault("the package was left open after a load");
    }
    if (package != nullptr) {
        ReleasePackage(package);
        if (tracked_count != 0) {
            Fault("memory leaked by a successful load");
        }
    }
}

// Reads every entry of an open package and compares it with the input's
// bytes; finds every path.
void CheckEntries(kr_package *pkg, const uint8_t *data, size_t size) {
    std::vector<char> bytes;
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry{};
        if (kr_entry_at(pkg, i, &entry) != KR_OK || entry.index != i) {
            Fault("kr_entry_at failed within the count");
        }
        // The last entry of a path, unless it is unsafe and a safe one has
        // the path: then the safe one, as extraction leaves it.
        uint32_t found = 0;
        kr_entry last{};
        if (kr_find(pkg, entry.path, &found) != KR_OK || kr_entry_at(pkg, found, &last) != KR_OK ||
            std::strcmp(last.path, entry.path) != 0 || (last.flags & KR_ENTRY_SHADOWED) != 0 ||
            ((entry.flags & KR_ENTRY_SHADOWED) != 0) != (found > i) ||
            (found < i &&
             ((entry.flags & KR_ENTRY_UNSAFE) == 0 || (last.flags & KR_ENTRY_UNSAFE) != 0))) {
            Fault("kr_find does not give the entry that extraction leaves of a path");
        }
        bool in_package = entry.size == 0 || entry.offset + entry.size <= size;
        // Only data within the package is read whole: its size is bounded.
        bytes.assign(in_package ? entry.size + 1 : 16, '\0');
        kr_error err{};
        int64_t got = kr_read(pkg, i, 0, bytes.data(), bytes.size(), &err);
        if (!in_package) {
            if (got != KR_E_NO_DATA || (entry.flags & KR_ENTRY_NO_DATA) == 0) {
                Fault("data past the end of the package was not refused");
            }
            continue;
        }
        if (got != static_cast<int64_t>(entry.size) ||
            (entry.size > 0 && std::memcmp(bytes.data(), data + entry.offset, entry.size) != 0)) {
            Fault("kr_read gave other bytes than the package holds");
        }
    }
}

// Opens the package with the library, plainly and partially.
void CheckLibrary(const char *path, const uint8_t *data, size_t size) {
    kr_package *plain = nullptr;
    kr_package *partial = nullptr;
    kr_error plain_err{};
    kr_error partial_err{};
    int plain_code = kr_open(path, 0, &plain, &plain_err);
    int partial_code = kr_open(path, KR_OPEN_PARTIAL, &partial, &partial_err);
    bool damaged = plain_code == KR_E_DAMAGED;
    if ((plain_code == KR_OK || damaged) != (partial_code == KR_OK)) {
        Fault("a partial open disagrees with a plain one");
    }
    if (partial != nullptr) {
        kr_info info{};
        kr_get_info(partial, &info);
        if ((info.damaged != 0) != damaged || (damaged && info.damage.record != plain_err.record)) {
            Fault("a partial open does not report the damage of a plain one");
        }
        if (plain != nullptr && kr_entry_count(plain) != kr_entry_count(partial)) {
            Fault("a partial open of a sound package has other entries");
        }
        CheckEntries(partial, data, size);
    }
    kr_close(plain);
    kr_close(partial);
}

// What a package holds: each entry's path and bytes (empty where its data
// is missing), sorted, for comparing packages whatever their order.
using Contents = std::vector<std::pair<std::string, std::string>>;

std::string EntryBytes(const kr_package *pkg, const kr_entry &entry) {
    if ((entry.flags & KR_ENTRY_NO_DATA) != 0) {
        return std::string();
    }
    std::string bytes(entry.size, '\0');
    if (kr_read(pkg, entry.index, 0, bytes.data(), bytes.size(), nullptr) !=
        static_cast<int64_t>(entry.size)) {
        Fault("an entry could not be read whole");
    }
    return bytes;
}

Contents ContentsOf(const kr_package *pkg) {
    Contents contents;
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry{};
        kr_entry_at(pkg, i, &entry);
        contents.emplace_back(entry.path, EntryBytes(pkg, entry));
    }
    return contents;
}

// The edit the writer is asked for, and what it must give: a new entry (or
// new bytes for the one kr_find finds at its path), the entry kr_find finds
// at the last entry's path renamed, then every entry of the first entry's
// path removed. An edit refused for a rule of paths is left out of what is
// expected.
Contents EditWithTheWriter(kr_package *base, const std::string &out) {
    Contents expected = ContentsOf(base);
    std::vector<bool> removed(expected.size(), false);
    kr_writer *w = nullptr;
    if (kr_writer_begin(base, out.c_str(), 0, &w, nullptr) != KR_OK) {
        Fault("the writer could not begin with a package that opens");
    }
    const char *put = "kestrun-fuzz/new";
    int code = kr_writer_put(w, put, "fuzz", 4, nullptr);
    uint32_t found = 0;
    if (kr_find(base, put, &found) == KR_OK) {
        if (code != KR_OK) {
            Fault("replacing an entry failed");
        }
        expected[found].second = "fuzz";
    } else if (code == KR_OK) {
        expected.emplace_back(put, "fuzz");
        removed.push_back(false);
    } else if (code != KR_E_INVALID) {
        Fault("putting an entry failed");
    }
    if (!expected.empty() &&
        kr_find(base, expected[expected.size() - 1].first.c_str(), &found) == KR_OK) {
        std::string from = expected[found].first;
        code = kr_writer_rename(w, from.c_str(), "kestrun-fuzz/renamed", nullptr);
        if (code == KR_OK) {
            expected[found].first = "kestrun-fuzz/renamed";
        } else if (code != KR_E_INVALID) {
            Fault("renaming an entry failed");
        }
    }
    if (kr_entry_count(base) > 0) {
        kr_entry first{};
        kr_entry_at(base, 0, &first);
        std::string path = first.path;
        if (kr_writer_remove(w, path.c_str(), nullptr) != KR_OK) {
            Fault("removing the entries of a path failed");
        }
        for (size_t i = 0; i < expected.size(); ++i) {
            removed[i] = removed[i] || expected[i].first == path;
        }
    }
    kr_error err{};
    if (kr_writer_commit(w, &err) != KR_OK) {
        std::fprintf(stderr, "kestrun_fuzz: %s\n", err.message);
        Fault("the writer's commit failed");
    }
    Contents kept;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!removed[i]) {
            kept.push_back(expected[i]);
        }
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// Edits the package with the writer into the sandbox, and reads it back.
void CheckWriter(const char *path) {
    kr_package *base = nullptr;
    if (kr_open(path, KR_OPEN_PARTIAL, &base, nullptr) != KR_OK) {
        return;
    }
    std::string out = sandbox + "/in/edit.rbd";
    Contents expected = EditWithTheWriter(base, out);
    kr_close(base);
    std::string beside = "edit.rbd|" + std::string(std::strrchr(path, '/') + 1) + "|";
    if (ListDirectory(sandbox + "/in") != beside) {
        Fault("the writer left something beside the package it wrote");
    }
    kr_package *edited = nullptr;
    kr_error err{};
    if (kr_open(out.c_str(), 0, &edited, &err) != KR_OK) {
        std::fprintf(stderr, "kestrun_fuzz: %s\n", err.message);
        Fault("the package the writer wrote does not open");
    }
    Contents got = ContentsOf(edited);
    kr_close(edited);
    std::sort(got.begin(), got.end());
    if (got != expected) {
        Fault("the package the writer wrote does not hold what the edit says");
    }
    std::remove(out.c_str());
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

    tracked_count = 0;
    live_bytes = 0;
    peak_bytes = 0;
    table_overflow = false;
    tracking = true;
    if (chdir(work_dir.c_str()) != 0) {
        Fault("cannot enter the working directory");
    }
    LoadAsARun(path, empty_root);
    if (fchdir(start_dir) != 0) {
        Fault("cannot return to the starting directory");
    }
    tracking = false;
    if (table_overflow) {
        Fault("too many allocations live at once");
    }
    if (!NoDescriptorLeft()) {
        Fault("a file descriptor was left open");
    }
    // A fatal error keeps what it held until the process ends.
    for (size_t i = 0; i < tracked_count; ++i) {
        std::free(const_cast<void *>(tracked[i].pointer));
    }
    tracked_count = 0;

    tracking = true;
    CheckLibrary(package_file.c_str(), data, size);
    CheckWriter(package_file.c_str());
    tracking = false;
    if (tracked_count != 0) {
        Fault("memory leaked by the library");
    }
    if (!NoDescriptorLeft()) {
        Fault("the library left a descriptor open");
    }
    if (peak_bytes > 3 * size + (1u << 20)) {
        Fault("the load held far more memory than the package has bytes");
    }

    CheckSandbox(data, size, empty_root);
    ClearWorkDirectory();
    return 0;
}

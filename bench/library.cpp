// kestrun_bench_library: the timed parts of bench/library.sh, each a mode of
// its own so that the script can interleave them with the programs they are
// weighed against. Built by the script against the build's libkestrun; never
// installed, never a test.
//
//   kestrun_bench_library find PACKAGE NAMES  kr_open, then kr_find of every
//                                             line of NAMES; prints seconds
//   kestrun_bench_library memory PACKAGE      kr_open alone; prints, in KiB,
//                                             the peak that the open added and
//                                             what it holds once open, then the
//                                             index's bytes, the bytes of all
//                                             entry paths and the entries
//   kestrun_bench_library copy PACKAGE DIR    kr_read_to_fd of every entry into
//                                             DIR/<index>
//   kestrun_bench_library threads PACKAGE PASSES
//                                             kr_read of every entry, by 1 and 2
//                                             threads in turn, and pread of the
//                                             same bytes likewise, PASSES times;
//                                             prints each pass's MiB/s
#include "kestrun/kestrun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

kr_package *OpenOrDie(const char *path) {
    kr_package *pkg = nullptr;
    kr_error err{};
    if (kr_open(path, 0, &pkg, &err) != KR_OK) {
        std::fprintf(stderr, "%s: %s\n", path, err.message);
        std::exit(1);
    }
    return pkg;
}

int Find(const char *package, const char *names_file) {
    std::vector<std::string> names;
    std::ifstream in(names_file);
    for (std::string line; std::getline(in, line);) {
        names.push_back(line);
    }
    double start = Now();
    kr_package *pkg = OpenOrDie(package);
    size_t missing = 0;
    for (const std::string &name : names) {
        uint32_t index = 0;
        missing += kr_find(pkg, name.c_str(), &index) == KR_OK ? 0 : 1;
    }
    double seconds = Now() - start;
    kr_close(pkg);
    if (missing != 0 || names.empty()) {
        std::fprintf(stderr, "%zu of %zu names not found\n", missing, names.size());
        return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}

// A figure of /proc/self/status in KiB: "VmHWM:" (the peak resident memory
// so far) or "VmRSS:" (the resident memory now).
long StatusKiB(const char *field) {
    std::ifstream status("/proc/self/status");
    size_t length = std::strlen(field);
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, length, field) == 0) {
            return std::strtol(line.c_str() + length, nullptr, 10);
        }
    }
    return -1;
}

// The peak above the resident memory before the open, and what stays.
int Memory(const char *package) {
    // The peak starts again from what is resident now (Linux 4.0 and later).
    std::ofstream("/proc/self/clear_refs") << "5";
    long before = StatusKiB("VmRSS:");
    kr_package *pkg = OpenOrDie(package);
    long peak = StatusKiB("VmHWM:");
    long held = StatusKiB("VmRSS:");
    kr_info info{};
    kr_get_info(pkg, &info);
    unsigned long long path_bytes = 0;
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        kr_entry entry{};
        kr_entry_at(pkg, i, &entry);
        path_bytes += std::strlen(entry.path) + 1;
    }
    std::printf("%ld %ld %llu %llu %u\n", peak - before, held - before,
                static_cast<unsigned long long>(info.records) * 96, path_bytes, info.entries);
    kr_close(pkg);
    return 0;
}

int Copy(const char *package, const char *dir) {
    kr_package *pkg = OpenOrDie(package);
    for (uint32_t i = 0; i < kr_entry_count(pkg); ++i) {
        std::string path = std::string(dir) + "/" + std::to_string(i);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        kr_error err{};
        if (fd < 0 || kr_read_to_fd(pkg, i, fd, &err) != KR_OK || close(fd) != 0) {
            std::fprintf(stderr, "entry %u: %s\n", i, err.message);
            return 1;
        }
    }
    kr_close(pkg);
    return 0;
}

// Reads one entry whole into `buffer`: by kr_read, or with `raw` by pread of
// its bytes straight from `fd`, the least a read can take. Its bytes, or -1.
int64_t ReadEntry(const kr_package *pkg, uint32_t index, int fd, bool raw,
                  std::vector<char> &buffer) {
    if (raw) {
        kr_entry entry{};
        kr_entry_at(pkg, index, &entry);
        uint64_t at = 0;
        while (at < entry.size) {
            size_t want = std::min<uint64_t>(entry.size - at, buffer.size());
            ssize_t got = pread(fd, buffer.data(), want, static_cast<off_t>(entry.offset + at));
            if (got <= 0) {
                return -1;
            }
            at += static_cast<uint64_t>(got);
        }
        return static_cast<int64_t>(at);
    }
    uint64_t at = 0;
    for (;;) {
        int64_t got = kr_read(pkg, index, at, buffer.data(), buffer.size(), nullptr);
        if (got <= 0) {
            return got < 0 ? -1 : static_cast<int64_t>(at);
        }
        at += static_cast<uint64_t>(got);
    }
}

// Reads every entry once with `threads` threads taking entries in turn;
// MiB per second.
double ReadAll(const kr_package *pkg, int fd, bool raw, int threads) {
    std::atomic<uint32_t> next{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        std::vector<char> buffer(1 << 20);
        uint64_t bytes = 0;
        for (uint32_t i = next++; i < kr_entry_count(pkg); i = next++) {
            int64_t got = ReadEntry(pkg, i, fd, raw, buffer);
            failed = failed || got < 0;
            bytes += got > 0 ? static_cast<uint64_t>(got) : 0;
        }
        total += bytes;
    };
    double start = Now();
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back(work);
    }
    for (std::thread &thread : pool) {
        thread.join();
    }
    double seconds = Now() - start;
    if (failed) {
        std::fprintf(stderr, "a read failed\n");
        std::exit(1);
    }
    return static_cast<double>(total) / (1 << 20) / seconds;
}

// Each pass reads the package four times: by kr_read with 1 and 2 threads,
// and by plain pread with 1 and 2 threads, which shows what the machine
// gives a second thread at that moment. The order turns about every pass.
int Threads(const char *package, int passes) {
    kr_package *pkg = OpenOrDie(package);
    int fd = open(package, O_RDONLY | O_CLOEXEC);
    ReadAll(pkg, fd, false, 1); // the package into the page cache
    for (int pass = 0; pass < passes; ++pass) {
        double rates[4] = {}; // kr_read 1, kr_read 2, pread 1, pread 2
        for (int turn = 0; turn < 4; ++turn) {
            int which = pass % 2 == 0 ? turn : 3 - turn;
            rates[which] = ReadAll(pkg, fd, which >= 2, which % 2 == 0 ? 1 : 2);
        }
        std::printf("%.1f %.1f %.1f %.1f\n", rates[0], rates[1], rates[2], rates[3]);
    }
    close(fd);
    kr_close(pkg);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "find" && argc == 4) {
        return Find(argv[2], argv[3]);
    }
    if (mode == "memory" && argc == 3) {
        return Memory(argv[2]);
    }
    if (mode == "copy" && argc == 4) {
        return Copy(argv[2], argv[3]);
    }
    if (mode == "threads" && argc == 4) {
        return Threads(argv[2], static_cast<int>(std::strtol(argv[3], nullptr, 10)));
    }
    std::fprintf(stderr, "usage: see the comment at the top of bench/library.cpp\n");
    return 2;
}

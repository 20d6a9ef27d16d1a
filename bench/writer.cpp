// The writer's benchmark program (bench/writer.sh): one edit of a package in
// place, as a program using libkestrun makes it.
//
//   kestrun_bench_writer replace PACKAGE PATH FILE   the entry PATH's data
//                                                    replaced by FILE's
//   kestrun_bench_writer remove PACKAGE PATH         the entries of PATH removed
//   kestrun_bench_writer memory PACKAGE PATH FILE    replace, and print in KiB
//        the peak resident memory above the process before kr_open, and the
//        index's size, then the number of entries
#include "kestrun/kestrun.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

[[noreturn]] void Die(const char *what, const kr_error &err) {
    std::fprintf(stderr, "%s: %s\n", what, err.message);
    std::exit(1);
}

// Opens the package, edits it in place with `edit`, commits.
template <typename Edit> void EditInPlace(const char *package, Edit edit) {
    kr_package *pkg = nullptr;
    kr_writer *w = nullptr;
    kr_error err{};
    if (kr_open(package, 0, &pkg, &err) != KR_OK) {
        Die("kr_open", err);
    }
    if (kr_writer_begin(pkg, package, 0, &w, &err) != KR_OK) {
        Die("kr_writer_begin", err);
    }
    if (edit(w, &err) != KR_OK) {
        Die("edit", err);
    }
    if (kr_writer_commit(w, &err) != KR_OK) {
        Die("kr_writer_commit", err);
    }
    kr_close(pkg);
}

void Replace(const char *package, const char *path, const char *file) {
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(file);
        std::exit(1);
    }
    EditInPlace(package,
                [&](kr_writer *w, kr_error *err) { return kr_writer_put_fd(w, path, fd, err); });
    close(fd);
}

// A figure of /proc/self/status in KiB ("VmHWM:", "VmRSS:").
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

void Memory(const char *package, const char *path, const char *file) {
    // The peak starts again from what is resident now (Linux 4.0 and later).
    std::ofstream("/proc/self/clear_refs") << "5";
    long before = StatusKiB("VmRSS:");
    kr_package *pkg = nullptr;
    kr_info info{};
    if (kr_open(package, 0, &pkg, nullptr) != KR_OK || kr_get_info(pkg, &info) != KR_OK) {
        std::exit(1);
    }
    kr_close(pkg);
    Replace(package, path, file);
    std::printf("%ld %llu %u\n", StatusKiB("VmHWM:") - before,
                static_cast<unsigned long long>(info.records) * 96 / 1024, info.entries);
}

} // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "replace" && argc == 5) {
        Replace(argv[2], argv[3], argv[4]);
    } else if (mode == "remove" && argc == 4) {
        const char *path = argv[3];
        EditInPlace(argv[2],
                    [&](kr_writer *w, kr_error *err) { return kr_writer_remove(w, path, err); });
    } else if (mode == "memory" && argc == 5) {
        Memory(argv[2], argv[3], argv[4]);
    } else {
        std::fprintf(stderr, "usage: see the comment at the top of bench/writer.cpp\n");
        return 2;
    }
    return 0;
}

#include "writer_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <cstddef>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

Package OpenPackage(const std::string &path, unsigned flags) {
    kr_package *pkg = nullptr;
    kr_error err{};
    int code = kr_open(path.c_str(), flags, &pkg, &err);
    EXPECT_EQ(code, KR_OK) << path << ": " << err.message;
    return Package(pkg);
}

Writer Begin(const kr_package *base, const std::string &path, unsigned flags) {
    kr_writer *w = nullptr;
    kr_error err{};
    int code = kr_writer_begin(base, path.c_str(), flags, &w, &err);
    EXPECT_EQ(code, KR_OK) << path << ": " << err.message;
    return Writer(w);
}

int Commit(Writer &writer) {
    kr_error err{};
    int code = kr_writer_commit(writer.release(), &err);
    EXPECT_EQ(code, KR_OK) << err.message;
    return code;
}

int CommitUnchanged(const kr_package *base, const std::string &path) {
    Writer writer = Begin(base, path);
    return writer == nullptr ? KR_E_INVALID : Commit(writer);
}

kr_info Info(const kr_package *pkg) {
    kr_info info{};
    EXPECT_EQ(kr_get_info(pkg, &info), KR_OK);
    return info;
}

std::vector<kr_entry> EntryRecords(const kr_package *pkg) {
    std::vector<kr_entry> entries(kr_entry_count(pkg));
    for (uint32_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(kr_entry_at(pkg, i, &entries[i]), KR_OK);
    }
    return entries;
}

void PrintTo(const Entry &entry, std::ostream *out) {
    *out << "{\"" << entry.path << "\", " << entry.data.size() << " bytes";
    if (entry.data.size() <= 32) {
        *out << " \"" << entry.data << "\"";
    }
    *out << "}";
}

std::vector<Entry> Entries(const kr_package *pkg) {
    std::vector<Entry> entries;
    for (const kr_entry &record : EntryRecords(pkg)) {
        std::string data(record.size, '\0');
        int64_t got = kr_read(pkg, record.index, 0, data.data(), data.size(), nullptr);
        EXPECT_EQ(got, static_cast<int64_t>(record.size)) << record.path;
        entries.push_back(Entry{record.path, data});
    }
    return entries;
}

std::vector<std::string> Names(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int RunInChild(const std::function<int()> &body) {
    pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void LimitFileSize(uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

bool DenyUnnamedFiles() {
#if defined(__linux__) && defined(__x86_64__)
    // The kernel's bit of O_TMPFILE alone: the C library's O_TMPFILE also
    // holds O_DIRECTORY.
    const unsigned tmpfile_bit = 020000000;
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, tmpfile_bit, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    return false;
#endif
}

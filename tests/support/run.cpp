#include "run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

namespace {

// Makes the openat2 system call fail with ENOSYS in this process and what it
// executes; false when that can't be arranged here.
bool DenyOpenat2() {
#if defined(__linux__) && defined(__x86_64__) && defined(SYS_openat2)
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
#else
    return false;
#endif
}

std::vector<std::string> CommandLine(const char *binary_variable,
                                     const std::vector<std::string> &args) {
    std::vector<std::string> command;
    if (const char *wrapper = std::getenv("KESTRUN_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) {
            command.push_back(word);
        }
    }
    const char *binary = std::getenv(binary_variable);
    if (binary == nullptr) {
        throw std::runtime_error(std::string(binary_variable) + " is not set");
    }
    command.emplace_back(binary);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

[[noreturn]] void RunChild(const std::string &work_dir, const std::vector<std::string> &command,
                           const RunOptions &options, int out_fd, int err_fd) {
    dup2(options.stdout_fd >= 0 ? options.stdout_fd : out_fd, STDOUT_FILENO);
    dup2(options.stderr_fd >= 0 ? options.stderr_fd : err_fd, STDERR_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    if (chdir(work_dir.c_str()) != 0) {
        _exit(126);
    }
    // SIGXFSZ keeps the disposition it had; the program must ignore it
    // itself, so that a file size limit makes a write fail, not a crash.
    std::signal(SIGXFSZ, SIG_DFL);
    if (options.file_size_limit > 0) {
        rlimit limit{options.file_size_limit, options.file_size_limit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.memory_limit > 0) {
        rlimit limit{options.memory_limit, options.memory_limit};
        setrlimit(RLIMIT_AS, &limit);
    }
    if (options.without_openat2 && !DenyOpenat2()) {
        _exit(125);
    }
    std::vector<char *> argv;
    for (const std::string &word : command) {
        argv.push_back(const_cast<char *>(word.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Reads both pipes until they close or the deadline passes.
bool Drain(int out_fd, int err_fd, std::string &out, std::string &err, int timeout_seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {&out, &err};
    int open_count = out_fd >= 0 ? 2 : 1;
    char buffer[65536];
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

// Undoes the text-mode translation of a Windows program's output. Output
// with any bare "\n" did not come through that translation and is left as it
// is, so that the test comparing it fails.
std::string FromWindowsText(const std::string &text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return text;
        }
        plain += text[i];
    }
    return plain;
}

bool IsWindowsProgram(const char *binary) {
    std::string name = binary != nullptr ? binary : "";
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

} // namespace

bool RunsWindowsBuild() {
    return IsWindowsProgram(std::getenv("KESTRUN_BIN"));
}

bool RunsWrapped() {
    const char *wrapper = std::getenv("KESTRUN_WRAPPER");
    return wrapper != nullptr && *wrapper != '\0';
}

RunResult RunKestrun(const std::string &work_dir, const std::vector<std::string> &args,
                     const RunOptions &options) {
    return RunProgram("KESTRUN_BIN", work_dir, args, options);
}

int StartProgram(const char *binary_variable, const std::string &work_dir,
                 const std::vector<std::string> &args) {
    std::vector<std::string> command = CommandLine(binary_variable, args);
    std::vector<char *> argv;
    for (const std::string &word : command) {
        argv.push_back(const_cast<char *>(word.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            dup2(null_fd, fd);
        }
        for (int number : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(number, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (chdir(work_dir.c_str()) == 0) {
            execvp(argv[0], argv.data());
        }
        _exit(127);
    }
    return pid;
}

RunResult RunProgram(const char *binary_variable, const std::string &work_dir,
                     const std::vector<std::string> &args, const RunOptions &options) {
    std::vector<std::string> command = CommandLine(binary_variable, args);
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // Closed before the fork, so that no write of the child can find a
    // reader, however fast it runs.
    if (options.close_stdout) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        if (out_pipe[0] >= 0) {
            close(out_pipe[0]);
        }
        close(err_pipe[0]);
        RunChild(work_dir, command, options, out_pipe[1], err_pipe[1]);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult result;
    if (!Drain(out_pipe[0], err_pipe[0], result.out, result.err, options.timeout_seconds)) {
        result.timed_out = true;
        kill(pid, SIGKILL);
    }
    if (out_pipe[0] >= 0) {
        close(out_pipe[0]);
    }
    close(err_pipe[0]);

    int wait_status = 0;
    rusage usage{};
    while (wait4(pid, &wait_status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.peak_rss_kib = usage.ru_maxrss;
    if (IsWindowsProgram(std::getenv(binary_variable))) {
        result.out = FromWindowsText(result.out);
        result.err = FromWindowsText(result.err);
    }
    if (WIFEXITED(wait_status) && !result.timed_out) {
        result.status = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        result.signal = WTERMSIG(wait_status);
    }
    return result;
}

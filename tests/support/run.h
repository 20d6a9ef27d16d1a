// Runs the built kestrun binary as a user would, in a given working directory.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
    unsigned long long file_size_limit = 0; // bytes; 0 for none. SIGXFSZ is left to the program.
    unsigned long long memory_limit = 0;    // address space in bytes; 0 for none
    int timeout_seconds = 60;
    // Standard output of the run: the descriptor given here (a terminal, a
    // file) in place of the pipe that is read into RunResult::out.
    int stdout_fd = -1;
    // The same for standard error (RunResult::err then stays empty).
    int stderr_fd = -1;
    // Close the pipe's reading end at once, as a reader that stops early does.
    bool close_stdout = false;
    // Linux: the openat2 system call answers ENOSYS, as on kernels before
    // 5.6, so that the fallback one name at a time is what runs.
    bool without_openat2 = false;
};

struct RunResult {
    int status = -1; // exit status, or -1 when ended by a signal or the timeout
    int signal = 0;  // terminating signal, 0 if none
    bool timed_out = false;
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
    long peak_rss_kib = 0; // the child's peak resident memory
};

// The binary comes from KESTRUN_BIN; KESTRUN_WRAPPER (split on spaces), when
// set, is put in front of it, e.g. to run a Windows build under an emulator.
RunResult RunKestrun(const std::string &work_dir, const std::vector<std::string> &args,
                     const RunOptions &options = {});

// The same for another built program, whose path is in the environment
// variable `binary_variable` (RBDPACK_BIN for rbdpack).
RunResult RunProgram(const char *binary_variable, const std::string &work_dir,
                     const std::vector<std::string> &args, const RunOptions &options = {});

// Starts the program named by `binary_variable` (KESTRUN_BIN, RBDPACK_BIN)
// in `work_dir` with `args` and gives its process id, without waiting for
// it. Its standard streams are /dev/null, and SIGINT, SIGTERM and SIGHUP are
// at their defaults and unblocked whatever the tests were started with (a
// background job ignores SIGINT, nohup SIGHUP), as a user's shell starts it.
int StartProgram(const char *binary_variable, const std::string &work_dir,
                 const std::vector<std::string> &args);

// True when the binary under test runs through KESTRUN_WRAPPER.
bool RunsWrapped();

// True when the binary under test is a Windows build (KESTRUN_BIN ends in
// ".exe"), run under Wine. Its C library writes standard output in text mode,
// "\r\n" for every "\n", as every console program there does; RunKestrun
// turns that back into "\n", on both streams, so that the same expected texts
// hold.
bool RunsWindowsBuild();

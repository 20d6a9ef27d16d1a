#include "temporary.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A signal handler may neither allocate nor take a lock, so the path it
// removes waits in a buffer set aside beforehand; `armed` says that it names
// a file of this run. Both change only while the signals are blocked.
char pending_path[4096];
volatile std::sig_atomic_t armed = 0;

#ifdef _WIN32
const int kSignals[] = {SIGINT, SIGTERM};
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

// The signal's default action, for the handler to meet when it raises it
// again. Async-signal-safe.
void RestoreDefault(int signal_number) {
#ifdef _WIN32
    std::signal(signal_number, SIG_DFL);
#else
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal_number, &fallback, nullptr);
#endif
}

// Removes the temporary file, then lets the signal end the process as it
// would have, so that whoever started rbdpack sees which signal ended it.
// On POSIX systems the signal stays blocked until the handler returns (it is
// its own and in sa_mask), and only then meets the default action.
extern "C" void RemoveTemporaryAndEnd(int signal_number) {
    if (armed != 0) {
#ifdef _WIN32
        std::remove(pending_path);
#else
        unlink(pending_path);
#endif
    }
    RestoreDefault(signal_number);
    std::raise(signal_number);
}

#ifdef _WIN32

void InstallHandlers() {
    for (int signal_number : kSignals) {
        std::signal(signal_number, RemoveTemporaryAndEnd);
    }
}

// Windows has no signal mask; its handlers run on a thread of their own.
void BlockSignals() {}
void UnblockSignals() {}

#else

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : kSignals) {
        sigaddset(&set, signal_number);
    }
    return set;
}

// A signal that was ignored when rbdpack started (SIGHUP under nohup, say)
// stays ignored. The handlers stay in place once they have run (no
// SA_RESETHAND), so that a second signal close behind the first waits for
// the handler rather than ending the run with the file still there. A file size limit ends a run by
// default too; ignored, it makes the write fail instead, which removes the file and says why.
void InstallHandlers() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryAndEnd;
    action.sa_mask = HandledSignals();
    for (int signal_number : kSignals) {
        struct sigaction old {};
        if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(signal_number, &action, nullptr);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

sigset_t unblocked_mask;

void BlockSignals() {
    sigset_t set = HandledSignals();
    sigprocmask(SIG_BLOCK, &set, &unblocked_mask);
}

void UnblockSignals() {
    sigprocmask(SIG_SETMASK, &unblocked_mask, nullptr);
}

#endif

} // namespace

FILE *CreateTemporary(const fs::path &output, fs::path &temporary) {
    static bool handlers_installed = false;
    if (!handlers_installed) {
        InstallHandlers();
        handlers_installed = true;
    }
    std::random_device random;
    int error = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        temporary = output.parent_path() / ("." + output.filename().string() + suffix);
        const std::string name = temporary.string();
        if (name.size() >= sizeof pending_path) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        // Blocked, a signal can't come between the file's creation and the
        // note that it is to be removed.
        BlockSignals();
        // "x": never take over a file that is already there.
        FILE *out = std::fopen(name.c_str(), "wbx");
        error = errno;
        if (out != nullptr) {
            std::memcpy(pending_path, name.c_str(), name.size() + 1);
            armed = 1;
        }
        UnblockSignals();
        if (out != nullptr) {
            return out;
        }
        // Another name helps only when this one was taken.
        if (error != EEXIST) {
            break;
        }
    }
    errno = error;
    return nullptr;
}

bool CommitTemporary(const fs::path &temporary, const fs::path &output, std::error_code &ec) {
    BlockSignals();
    fs::rename(temporary, output, ec);
    if (!ec) {
        armed = 0;
    }
    UnblockSignals();
    return !ec;
}

void DiscardTemporary(const fs::path &temporary) {
    BlockSignals();
    std::error_code ec;
    fs::remove(temporary, ec);
    armed = 0;
    UnblockSignals();
}

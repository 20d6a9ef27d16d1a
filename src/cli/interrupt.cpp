#include "interrupt.h"

#include "output/status_line.h"

#include <chrono>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <system_error>
#include <unistd.h>
#endif

#ifndef _WIN32
namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The extraction of the run, the one place where the handler looks for the
// entry being written: a handler can be handed no record. Set once, before
// the handler is installed.
const RBDExtraction *extraction_in_hand;

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int number : kSignals) {
        sigaddset(&set, number);
    }
    return set;
}

// Async-signal-safe only: an atomic load, unlinkat, write, sigaction and
// raise. The handler stays in place (no SA_RESETHAND): a second signal that
// comes before this one is handled waits for the handler rather than ending
// the process with the cut file still there.
void OnSignal(int number) {
    const RBDExtraction &x = *extraction_in_hand;
    if (x.writing.load(std::memory_order_acquire)) {
        unlinkat(x.writing_dir_fd, x.writing_name, 0);
    }
    RBD_ClearStatusFromHandler();
    // The signal is blocked until the handler returns (its own and those of
    // sa_mask); raised again, it then meets the default action and ends the
    // process with its status.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(number, &fallback, nullptr);
    raise(number);
}

} // namespace

void RBD_RemoveCutEntryOnSignals(const RBDExtraction &extraction) {
    extraction_in_hand = &extraction;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_mask = HandledSignals();
    for (int number : kSignals) {
        struct sigaction old {};
        if (sigaction(number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(number, &action, nullptr);
        }
    }
}

void RBD_HoldSignalsAround(void * /*context*/, void (*step)(void *), void *step_context) {
    sigset_t held = HandledSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    step(step_context);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}
namespace {

// Removes the file that `x` has marked as being written, if any.
void RemoveMarked(const RBDExtraction &x) {
    if (x.writing.load(std::memory_order_acquire)) {
        unlinkat(x.writing_dir_fd, x.writing_name, 0);
    }
}

[[noreturn]] void EndBySignal(RBDSignalWatch &watch, int number) {
    // Never let go: the workers stay out of their create and close steps,
    // and the marks stay as they are, until the process ends.
    watch.closing.store(true);
    watch.gate.lock();
    RemoveMarked(*watch.parallel->main);
    for (const std::unique_ptr<RBDWorker> &w : watch.parallel->workers) {
        RemoveMarked(w->x);
    }
    RBD_ClearStatusFromHandler();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(number, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    // Only if the signal did not end the process after all.
    // cppcheck-suppress unreachableCode
    _exit(128 + number);
}

// Whether `info` is the wake-up of RBD_StopWatching rather than a signal
// from outside: this process sends no other.
bool IsWakeUp(const RBDSignalWatch &watch, const siginfo_t &info) {
    return watch.ending.load() && info.si_pid == getpid();
}

void Watch(RBDSignalWatch *watch) {
    for (;;) {
        siginfo_t info{};
        int number = sigwaitinfo(&watch->watched, &info);
        if (number < 0) {
            continue; // interrupted
        }
        if (IsWakeUp(*watch, info)) {
            return;
        }
        EndBySignal(*watch, number);
    }
}

// One of the watched signals, to wake the watching thread with; 0: none.
int AnyWatched(const RBDSignalWatch &watch) {
    for (int number : kSignals) {
        if (sigismember(&watch.watched, number) == 1) {
            return number;
        }
    }
    return 0;
}

} // namespace

void RBD_HoldSignals(RBDSignalWatch &watch) {
    sigemptyset(&watch.watched);
    for (int number : kSignals) {
        struct sigaction old {};
        if (sigaction(number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaddset(&watch.watched, number);
        }
    }
    sigset_t held = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &held, &watch.previous);
    watch.held = true;
    watch.ending.store(false);
    watch.closing.store(false);
}

bool RBD_WatchSignals(RBDSignalWatch &watch, const RBDParallel &parallel) {
    watch.parallel = &parallel;
    if (AnyWatched(watch) == 0) {
        return true; // every one of them is ignored: nothing to wait for
    }
    try {
        watch.thread = std::thread(Watch, &watch);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void RBD_StopWatching(RBDSignalWatch &watch) {
    if (!watch.held) {
        return;
    }
    if (watch.thread.joinable()) {
        watch.ending.store(true);
        pthread_kill(watch.thread.native_handle(), AnyWatched(watch));
        watch.thread.join();
    }
    watch.held = false;
    pthread_sigmask(SIG_SETMASK, &watch.previous, nullptr);
}
#else
void RBD_HoldSignals(RBDSignalWatch &watch) {
    watch.held = false;
    watch.closing.store(false);
}

bool RBD_WatchSignals(RBDSignalWatch &watch, const RBDParallel &parallel) {
    watch.parallel = &parallel;
    return true;
}

void RBD_StopWatching(RBDSignalWatch & /*watch*/) {}

void RBD_RemoveCutEntryOnSignals(const RBDExtraction & /*extraction*/) {
    // The console's Ctrl-C runs its handler on a thread of its own, while the
    // file is held open; nothing is removed there.
}

void RBD_HoldSignalsAround(void * /*context*/, void (*step)(void *), void *step_context) {
    step(step_context);
}
#endif

void RBD_PassSignalGate(void *context, void (*step)(void *), void *step_context) {
    auto &watch = *static_cast<RBDSignalWatch *>(context);
    // The run is ending by a signal: this thread waits for the end.
    while (watch.closing.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::shared_lock<std::shared_mutex> pass(watch.gate);
    step(step_context);
}

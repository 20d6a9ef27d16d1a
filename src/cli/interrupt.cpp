#include "interrupt.h"

#include "output/status_line.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
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
#else
void RBD_RemoveCutEntryOnSignals(const RBDExtraction & /*extraction*/) {
    // The console's Ctrl-C runs its handler on a thread of its own, while the
    // file is held open; nothing is removed there.
}

void RBD_HoldSignalsAround(void * /*context*/, void (*step)(void *), void *step_context) {
    step(step_context);
}
#endif

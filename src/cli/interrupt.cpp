#include "interrupt.h"

#include "entries/writer.h"
#include "output/status_line.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

#ifndef _WIN32
namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe only: an atomic load, unlinkat, write and raise.
void OnSignal(int number) {
    const RBDExtraction &x = RBD_Extraction();
    if (x.writing.load(std::memory_order_acquire)) {
        unlinkat(x.writing_dir_fd, x.writing_name, 0);
    }
    RBD_ClearStatusFromHandler();
    // The handler was reset on entry (SA_RESETHAND) and the signal is
    // blocked until it returns: then it ends the process.
    raise(number);
}

} // namespace

void RBD_RemoveCutEntryOnSignals() {
    for (int number : kSignals) {
        struct sigaction old {};
        if (sigaction(number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (int other : kSignals) {
            sigaddset(&action.sa_mask, other);
        }
        action.sa_flags = SA_RESETHAND;
        sigaction(number, &action, nullptr);
    }
}
#else
void RBD_RemoveCutEntryOnSignals() {
    // The console's Ctrl-C runs its handler on a thread of its own, while the
    // file is held open; nothing is removed there.
}
#endif

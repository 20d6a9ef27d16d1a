#include "messages.h"

#include "status_line.h"

#include <cstdarg>

namespace {

// The status line is taken away first, and on standard error what standard
// output holds goes out before the message, so that both keep their order
// where they end up in one place (a terminal, `>log 2>&1`).
void Print(RBDStreams &out, const char *format, va_list args) {
    RBD_ClearStatus(out.status);
    if (out.messages != stdout) {
        std::fflush(stdout);
    }
    std::vfprintf(out.messages, format, args);
}

} // namespace

void RBD_StopWorkers(RBDStreams &out) {
    void (*stop)(void *) = out.stop;
    out.stop = nullptr;
    if (stop != nullptr) {
        stop(out.stop_context);
    }
}

void RBD_Warning(RBDStreams &out, const char *format, ...) {
    out.warned = true;
    va_list args;
    va_start(args, format);
    Print(out, format, args);
    va_end(args);
}

void RBD_Fatal(RBDStreams &out, const char *format, ...) {
    RBD_StopWorkers(out);
    va_list args;
    va_start(args, format);
    Print(out, format, args);
    va_end(args);
    RBD_Exit(1);
}

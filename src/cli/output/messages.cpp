#include "messages.h"

#include "status_line.h"

#include <cstdarg>

bool warnings_printed;

namespace {

FILE *message_stream = stdout;

// The status line is taken away first, and on standard error what standard
// output holds goes out before the message, so that both keep their order
// where they end up in one place (a terminal, `>log 2>&1`).
void Print(const char *format, va_list args) {
    RBD_ClearStatus();
    if (message_stream != stdout) {
        std::fflush(stdout);
    }
    std::vfprintf(message_stream, format, args);
}

} // namespace

void RBD_MessagesToStderr() {
    message_stream = stderr;
}

FILE *RBD_MessageStream() {
    return message_stream;
}

void RBD_Warning(const char *format, ...) {
    warnings_printed = true;
    va_list args;
    va_start(args, format);
    Print(format, args);
    va_end(args);
}

void RBD_Fatal(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Print(format, args);
    va_end(args);
    RBD_Exit(1);
}

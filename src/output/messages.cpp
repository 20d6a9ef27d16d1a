#include "messages.h"

#include <cstdarg>
#include <cstdio>

bool warnings_printed;

void RBD_Warning(const char *format, ...) {
    warnings_printed = true;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void RBD_Fatal(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    RBD_Exit(1);
}

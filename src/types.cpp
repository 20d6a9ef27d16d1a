#include "types.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

const char header_msg[57] = "Copyright 1998 Reality Bytes, Inc.  All rights reserved.";

char package_name[RBD_MAX_PACKAGE_NAME + 1];
FILE *fp;
uint32_t num_indices;
uint64_t package_size;
bool warnings_printed;

void RBD_Warning(const char *format, ...) {
    warnings_printed = true;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void RBD_Exit(int status) {
    std::fflush(stdout);
    std::exit(status);
}

#include "types.h"

#include <cstdlib>

const char header_msg[57] = "Copyright 1998 Reality Bytes, Inc.  All rights reserved.";

char package_name[RBD_MAX_PACKAGE_NAME + 1];
FILE *fp;
uint32_t num_indices;
uint64_t package_size;

void RBD_Exit(int status) {
    std::fflush(stdout);
    std::exit(status);
}

// RBD_Exit in a file of its own, so that a harness (the fuzz target) can put
// its own in its place at link time: a call within one object file would not
// be redirected.
#include "messages.h"

#include <cstdio>
#include <cstdlib>

void RBD_Exit(int status) {
    std::fflush(stdout);
    std::exit(status);
}

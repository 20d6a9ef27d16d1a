// Where a run's output goes. Messages (progress, warnings, errors) are
// printed with the plain stdio calls on standard output everywhere in the
// program. A mode whose product is data (a listing, entry bytes) moves the
// messages to standard error instead, so that a pipe carries only the data:
// the product keeps the original standard output under a descriptor of its
// own, and standard output's descriptor is pointed at standard error.
#pragma once

#include <cstdio>

// Sets up the streams once, before anything is printed. With `product_apart`
// the product is kept apart from the messages as above; with `binary` the
// product carries raw bytes (no line-end translation where the system has
// one). A closed pipe never ends the process: SIGPIPE is ignored, and each
// write reports its failure instead.
void RBD_SetUpStreams(bool product_apart, bool binary);

// The stream that carries the mode's product: standard output.
FILE *RBD_Product();

// Flushes the messages and the product. The messages' fate does not change
// the run's outcome; a product that could not be written is a fatal error.
void RBD_FlushOutput();

// Ends the product: everything flushed, or the fatal error.
void RBD_FinishProduct();

// Reports that the product could not be written and ends the run (status 1).
[[noreturn]] void RBD_FailProduct();

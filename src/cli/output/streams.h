// Where a run's output goes. Standard output carries progress lines or the
// mode's product (a listing, a report, entry bytes); warnings and errors go
// to the message stream (messages.h): standard output in the classic run,
// standard error in option mode.
#pragma once

#include "status_line.h"

#include <cstdio>

// What a run's printing keeps between lines (RBDRun::out).
struct RBDStreams {
    FILE *messages = stdout; // where warnings and errors go
    bool warned;             // a warning was printed: the run ends with status 2
    bool stdout_is_product;  // losing standard output fails the run
    RBDStatusLine status;
    // When standard output was last flushed (progress.h), in milliseconds of
    // the monotonic clock; not yet, so that the first line goes out at once.
    bool flushed;
    long long last_flush_ms;
    // The one way to stop: every fatal error (messages.h) calls it first,
    // once, so that an extraction's workers end, the entries they have in
    // hand finished and their lines printed, before the error's line. Null
    // while no worker runs.
    void (*stop)(void *context);
    void *stop_context;
};

// Sets up the streams once, before anything is printed. With
// `messages_apart` warnings and errors go to standard error. With `product`
// standard output carries the mode's data, whose loss is a failure of the
// run; with `binary` it carries raw bytes (no line-end translation where the
// system has one). A closed pipe never ends the process by itself: SIGPIPE
// is ignored, and each write reports its failure instead.
void RBD_SetUpStreams(RBDStreams &out, bool messages_apart, bool product, bool binary);

// The stream that carries the mode's product: standard output.
FILE *RBD_Product();

// Flushes standard output. Progress lines that could not be written don't
// change the run's outcome; a product that could not be written ends it.
void RBD_FlushOutput(RBDStreams &out);

// Ends the product: everything flushed, or the run ended as below.
void RBD_FinishProduct(RBDStreams &out);

// Ends the run because the product could not be written. A reader that went
// away (a closed pipe, as `kestrun -l pkg.rbd | head` leaves) ends it
// quietly, as by SIGPIPE (status 141 in a shell); any other failure prints
// its error and ends it with status 1.
[[noreturn]] void RBD_FailProduct(RBDStreams &out);

// The command line's warnings and its one way to stop. Progress lines go to
// standard output; warnings and fatal errors come through here, to the
// message stream of the run (RBDStreams::messages): standard output in the
// classic run, standard error in option mode.
#pragma once

#include "streams.h"

// Prints a warning (a format that begins "WARNING: " and ends in a line feed)
// and notes in `out.warned` that the run printed one, so that its exit
// status can say so.
void RBD_Warning(RBDStreams &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Prints a fatal error (a format that begins "ERROR: " and ends in a line
// feed) and ends the run with status 1. Every fatal error of the command line
// comes through here.
[[noreturn]] void RBD_Fatal(RBDStreams &out, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Calls `out.stop`, if set, and takes it away: the workers of an
// extraction end before a run's last lines (RBDStreams::stop).
void RBD_StopWorkers(RBDStreams &out);

// Ends the process with `status` after flushing standard output: the one
// place where a run stops.
[[noreturn]] void RBD_Exit(int status);

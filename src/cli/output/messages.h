// The command line's warnings and its one way to stop. Progress lines go to
// standard output; warnings and fatal errors come through here, to the
// message stream: standard output in the classic run, standard error in
// option mode.
#pragma once

#include <cstdio>

// Sends warnings and errors to standard error from now on.
void RBD_MessagesToStderr();

// Where warnings and errors go.
FILE *RBD_MessageStream();

// Prints a warning (a format that begins "WARNING: " and ends in a line feed)
// and notes that the run printed one, so that its exit status can say so.
void RBD_Warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// True once any warning has been printed.
extern bool warnings_printed;

// Prints a fatal error (a format that begins "ERROR: " and ends in a line
// feed) and ends the run with status 1. Every fatal error of the command line
// comes through here.
[[noreturn]] void RBD_Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with `status` after flushing standard output: the one
// place where a run stops.
[[noreturn]] void RBD_Exit(int status);

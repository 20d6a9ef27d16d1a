// The texts that describe the program itself.
#pragma once

#include <cstdio>

// The banner of the classic run: three lines, the second naming the version.
extern const char banner[];

// The one usage line of the classic run.
extern const char instructions[];

// The usage of every option, for -h and after a command-line error.
void RBD_PrintUsage(FILE *stream);

// "kestrun VERSION".
void RBD_PrintVersion();

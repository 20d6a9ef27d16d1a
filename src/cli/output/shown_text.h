// Names shown on the command line's streams: escaped where the stream is a
// terminal (RBD_EscapeControls), byte for byte into pipes and files.
#pragma once

#include <cstdio>
#include <string>

// Notes which of the streams that show names are terminals: `messages`, where
// warnings and errors go, and standard output; called once the streams are
// set up. Until then nothing is escaped.
void NoteTerminals(FILE *messages);

// `text` as it should appear in a warning or an error: escaped when their
// stream is a terminal, else `text` itself. An escaped result lives in one of
// four rotating buffers, so up to four results can be used in one call of
// printf.
const char *ShownInMessage(const char *text);

// The same for standard output: progress lines, listings, reports.
const char *ShownOnStdout(const char *text);

// Names as a terminal may be given them: a package must not be able to move
// the cursor, clear the screen or forge a line through a name.
#pragma once

#include <cstdio>
#include <string>

// `text` with every control character written as \xHH (lower-case hex, one
// per byte): C0 (below 0x20), DEL, the bytes 0x80 to 0x9F where they are not
// part of a well-formed UTF-8 sequence, and U+0080 to U+009F encoded in UTF-8;
// and every backslash doubled, so that a name holding the four characters
// "\x1b" can't pass for one holding ESC. Everything else, other UTF-8 and
// stray bytes of 0xA0 and up included, is left as it is.
std::string EscapeControls(const char *text);

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

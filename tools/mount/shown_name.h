// Text from a package as a terminal may be given it, for the mount's
// warnings: a package must not be able to move the cursor, clear the screen
// or forge a line through a name. The same escaping as kestrun's own.
#pragma once

#include <cstdio>
#include <string>

// `text` with every control character written as \xHH (lower-case hex, one
// per byte): C0, DEL, the bytes 0x80 to 0x9F where they are not part of a
// well-formed UTF-8 sequence, and U+0080 to U+009F encoded in UTF-8; and
// every backslash doubled. Everything else is left as it is.
std::string EscapeControls(const char *text);

// `text` as it is to be printed on `stream`: escaped when it is a terminal.
std::string ShownOn(FILE *stream, const char *text);

// Names from a package as a terminal may be given them: a package must not be
// able to move the cursor, clear the screen or forge a line through a name.
// The one rule for every face that shows names on a terminal: the command
// line, and through the library the mount.
#pragma once

#include <string>

// `text` with every control character written as \xHH (lower-case hex, one
// per byte): C0 (below 0x20), DEL, the bytes 0x80 to 0x9F where they are not
// part of a well-formed UTF-8 sequence, and U+0080 to U+009F encoded in UTF-8;
// and every backslash doubled, so that a name holding the four characters
// "\x1b" can't pass for one holding ESC. Everything else, other UTF-8 and
// stray bytes of 0xA0 and up included, is left as it is.
std::string RBD_EscapeControls(const char *text);

// False when RBD_EscapeControls would give `text` back unchanged: the cheap
// test, for the many names that hold nothing to escape.
bool RBD_NeedsEscaping(const char *text);

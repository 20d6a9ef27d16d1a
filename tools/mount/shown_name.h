// Text from a package as the mount prints it on standard error: escaped by
// the library's rule (kr_escape_text) where that is a terminal, so that a
// name can't move the cursor, clear the screen or forge a line.
#pragma once

#include <cstdio>
#include <string>

// `text` as it is to be printed on `stream`: escaped when it is a terminal.
std::string ShownOn(FILE *stream, const char *text);

// Names, which are arbitrary bytes, as JSON strings that any strict parser
// accepts, without losing a byte.
#pragma once

#include <string>

// The JSON string literal, quotes included, for the bytes of `text`. The
// string it decodes to is `text` itself where `text` is well-formed UTF-8
// without backslashes. Otherwise, in the decoded string, each backslash of
// `text` is doubled, and each byte that is not part of a well-formed UTF-8
// sequence becomes the four characters \xHH (lower-case hex). The original
// bytes are thus always recoverable: read "\\" as one backslash and "\xHH" as
// one byte. Control characters (and DEL, U+0080 to U+009F) are written as
// \u00XX escapes, so the output line shows no raw control byte either.
std::string JsonString(const char *text);

#include "json_text.h"

#include "../../package/utf8.h"

#include <cstring>

namespace {

const char hex[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string &out, uint32_t code) {
    out += "\\u00";
    out += hex[(code >> 4) & 0x0F];
    out += hex[code & 0x0F];
}

// A byte outside any UTF-8 sequence: \xHH in the decoded string, whose
// backslash is itself escaped in the literal.
void AppendStrayByte(std::string &out, unsigned char byte) {
    out += "\\\\x";
    out += hex[byte >> 4];
    out += hex[byte & 0x0F];
}

void AppendAscii(std::string &out, char c) {
    if (c == '"') {
        out += "\\\"";
    } else if (c == '\\') {
        // Doubled in the decoded string, so that it can't be read as the
        // start of a \xHH.
        out += "\\\\\\\\";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        AppendUnicodeEscape(out, static_cast<unsigned char>(c));
    } else {
        out += c;
    }
}

} // namespace

std::string JsonString(const char *text) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t left = std::strlen(text);
    std::string out = "\"";
    while (left > 0) {
        size_t length = Utf8SequenceLength(bytes, left);
        if (length == 0) {
            AppendStrayByte(out, bytes[0]);
            length = 1;
        } else if (length == 1) {
            AppendAscii(out, static_cast<char>(bytes[0]));
        } else if (uint32_t code = Utf8CodePoint(bytes, length); code <= 0x9F) {
            AppendUnicodeEscape(out, code);
        } else {
            out.append(reinterpret_cast<const char *>(bytes), length);
        }
        bytes += length;
        left -= length;
    }
    return out + "\"";
}

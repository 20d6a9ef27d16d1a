#include "escaped_text.h"

#include "utf8.h"

#include <cstring>

namespace {

bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
}

bool IsControlCode(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

void AppendEscaped(std::string &out, const unsigned char *bytes, size_t count) {
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        out += "\\x";
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
}

} // namespace

bool RBD_NeedsEscaping(const char *text) {
    for (const char *c = text; *c != '\0'; ++c) {
        if (IsControlByte(static_cast<unsigned char>(*c)) || *c == '\\') {
            return true;
        }
    }
    return false;
}

std::string RBD_EscapeControls(const char *text) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t left = std::strlen(text);
    std::string out;
    while (left > 0) {
        size_t length = Utf8SequenceLength(bytes, left);
        // A stray byte stands for itself; a sequence for its code point.
        bool control =
            length == 0 ? IsControlByte(bytes[0]) : IsControlCode(Utf8CodePoint(bytes, length));
        size_t taken = length == 0 ? 1 : length;
        if (control) {
            AppendEscaped(out, bytes, taken);
        } else if (bytes[0] == '\\') {
            out += "\\\\";
        } else {
            out.append(reinterpret_cast<const char *>(bytes), taken);
        }
        bytes += taken;
        left -= taken;
    }
    return out;
}

#include "shown_name.h"

#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

bool IsControlCode(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The length (1 to 4) of the well-formed UTF-8 sequence at `text`, with its
// code point in `code`; 0 where the bytes are not one (overlong forms,
// surrogates and code points past U+10FFFF are not).
size_t Utf8Sequence(const unsigned char *text, size_t available, uint32_t &code) {
    unsigned char lead = text[0];
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > available) {
        return 0;
    }
    code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (text[i] & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least[length] || surrogate || code > 0x10FFFF ? 0 : length;
}

} // namespace

std::string EscapeControls(const char *text) {
    static const char hex[] = "0123456789abcdef";
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t left = std::strlen(text);
    std::string out;
    while (left > 0) {
        uint32_t code = 0;
        size_t length = Utf8Sequence(bytes, left, code);
        // A stray byte stands for itself; a sequence for its code point.
        bool control = length == 0 ? (bytes[0] < 0x20 || bytes[0] == 0x7F ||
                                      (bytes[0] >= 0x80 && bytes[0] <= 0x9F))
                                   : IsControlCode(code);
        size_t taken = length == 0 ? 1 : length;
        for (size_t i = 0; i < taken; ++i) {
            if (control) {
                out += "\\x";
                out += hex[bytes[i] >> 4];
                out += hex[bytes[i] & 0x0F];
            } else if (bytes[i] == '\\') {
                out += "\\\\";
            } else {
                out += static_cast<char>(bytes[i]);
            }
        }
        bytes += taken;
        left -= taken;
    }
    return out;
}

std::string ShownOn(FILE *stream, const char *text) {
    return isatty(fileno(stream)) != 0 ? EscapeControls(text) : std::string(text);
}

#include "utf8.h"

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The second byte of a sequence has a narrower range after some lead bytes:
// that is what rules out overlong forms, surrogates and values past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
    switch (lead) {
    case 0xE0:
        return second >= 0xA0 && second <= 0xBF;
    case 0xED:
        return second >= 0x80 && second <= 0x9F;
    case 0xF0:
        return second >= 0x90 && second <= 0xBF;
    case 0xF4:
        return second >= 0x80 && second <= 0x8F;
    default:
        return IsContinuation(second);
    }
}

size_t LengthForLead(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

} // namespace

size_t Utf8SequenceLength(const unsigned char *text, size_t available) {
    size_t length = available > 0 ? LengthForLead(text[0]) : 0;
    if (length <= 1 || length > available) {
        return length <= available ? length : 0;
    }
    if (!SecondByteFits(text[0], text[1])) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (!IsContinuation(text[i])) {
            return 0;
        }
    }
    return length;
}

uint32_t Utf8CodePoint(const unsigned char *text, size_t length) {
    static const unsigned char lead_mask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t code = text[0] & lead_mask[length];
    for (size_t i = 1; i < length; ++i) {
        code = (code << 6) | (text[i] & 0x3Fu);
    }
    return code;
}

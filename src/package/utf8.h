// Recognising UTF-8 in names that are arbitrary bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Length (1 to 4) of the well-formed UTF-8 sequence that starts at `text`,
// looking at no more than `available` bytes; 0 when the bytes there are not
// one. Overlong forms, surrogates and code points past U+10FFFF are not
// well-formed.
size_t Utf8SequenceLength(const unsigned char *text, size_t available);

// The code point of a well-formed sequence of `length` bytes.
uint32_t Utf8CodePoint(const unsigned char *text, size_t length);

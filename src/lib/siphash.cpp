#include "siphash.h"

#include <random>

namespace {

uint64_t Rotate(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

struct SipState {
    uint64_t v0, v1, v2, v3;
};

void SipRound(SipState &s) {
    s.v0 += s.v1;
    s.v1 = Rotate(s.v1, 13);
    s.v1 ^= s.v0;
    s.v0 = Rotate(s.v0, 32);
    s.v2 += s.v3;
    s.v3 = Rotate(s.v3, 16);
    s.v3 ^= s.v2;
    s.v0 += s.v3;
    s.v3 = Rotate(s.v3, 21);
    s.v3 ^= s.v0;
    s.v2 += s.v1;
    s.v1 = Rotate(s.v1, 17);
    s.v1 ^= s.v2;
    s.v2 = Rotate(s.v2, 32);
}

// Up to eight bytes as a little-endian word, whatever the host's byte order.
uint64_t LittleEndianWord(const unsigned char *bytes, size_t count) {
    uint64_t word = 0;
    for (size_t i = 0; i < count; ++i) {
        word |= uint64_t{bytes[i]} << (8 * i);
    }
    return word;
}

void Compress(SipState &s, uint64_t word) {
    s.v3 ^= word;
    SipRound(s);
    s.v0 ^= word;
}

} // namespace

uint64_t RBD_SipHash13(const uint64_t key[2], const void *data, size_t length) {
    SipState s{key[0] ^ 0x736f6d6570736575ULL, key[1] ^ 0x646f72616e646f6dULL,
               key[0] ^ 0x6c7967656e657261ULL, key[1] ^ 0x7465646279746573ULL};
    const auto *bytes = static_cast<const unsigned char *>(data);
    size_t whole = length / 8 * 8;
    for (size_t at = 0; at < whole; at += 8) {
        Compress(s, LittleEndianWord(bytes + at, 8));
    }
    uint64_t last =
        LittleEndianWord(bytes + whole, length - whole) | (uint64_t{length & 0xFF} << 56);
    Compress(s, last);
    s.v2 ^= 0xFF;
    SipRound(s);
    SipRound(s);
    SipRound(s);
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

void RBD_DrawHashKey(uint64_t key[2], const void *a, const void *b) {
    try {
        std::random_device random;
        key[0] = (uint64_t{random()} << 32) ^ random();
        key[1] = (uint64_t{random()} << 32) ^ random();
    } catch (...) {
        key[0] = reinterpret_cast<uintptr_t>(a);
        key[1] = reinterpret_cast<uintptr_t>(b);
    }
}

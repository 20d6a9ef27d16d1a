#include "entry_hash.h"

#include "../../hostkit/hostkit.h"
#include "../hash/sha256.h"
#include "../output/messages.h"
#include "../output/status_line.h"

#include <memory>
#include <new>

namespace {

// Read and hashed in pieces of this size, from one buffer for the whole load.
const size_t kPiece = size_t{1} << 20;

[[noreturn]] void FailHashing(RBDStreams &out) {
    RBD_Fatal(out, "ERROR: Failed to compute SHA-256, aborting!\n");
}

void Prepare(RBDHashing &hashing, RBDStreams &out) {
    if (hashing.hash == nullptr) {
        hashing.hash = RBD_NewSha256();
        hashing.buffer.reset(new (std::nothrow) char[kPiece]);
        if (hashing.hash == nullptr || hashing.buffer == nullptr) {
            FailHashing(out);
        }
    }
}

void WriteHex(const unsigned char *digest, char *hex) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < RBD_SHA256_SIZE; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    hex[2 * RBD_SHA256_SIZE] = '\0';
}

// Adds the `left` bytes at `at` of the package to the hash, as far as they
// can be read; true when they all were.
bool AddBytes(RBDRun &run, uint64_t at, uint64_t left) {
    RBDHashing &hashing = run.hashing;
    bool whole = true;
    while (left > 0 && whole) {
        size_t want = left < kPiece ? static_cast<size_t>(left) : kPiece;
        int64_t got = hkReadAt(run.package.fd, at, hashing.buffer.get(), want);
        whole = got == static_cast<int64_t>(want);
        if (got > 0 &&
            !RBD_AddToSha256(hashing.hash, hashing.buffer.get(), static_cast<size_t>(got))) {
            FailHashing(run.out);
        }
        if (got > 0) {
            at += static_cast<uint64_t>(got);
            left -= static_cast<uint64_t>(got);
            RBD_AdvanceStatus(run.out.status, static_cast<uint64_t>(got));
        }
    }
    return whole;
}

} // namespace

bool RBD_HashEntry(RBDRun &run, uint32_t offset, uint32_t size, char *hex) {
    Prepare(run.hashing, run.out);
    bool whole = AddBytes(run, offset, size);
    // The hash ends either way, so that the next entry starts afresh.
    unsigned char digest[RBD_SHA256_SIZE];
    if (!RBD_EndSha256(run.hashing.hash, digest)) {
        FailHashing(run.out);
    }
    if (whole && hex != nullptr) {
        WriteHex(digest, hex);
    }
    return whole;
}

void RBD_ForgetHashing(RBDHashing &hashing) {
    RBD_FreeSha256(hashing.hash);
    hashing.hash = nullptr;
    hashing.buffer.reset();
}

#include "entry_hash.h"

#include "../../hostkit/hostkit.h"
#include "../hash/sha256.h"
#include "../loader.h"
#include "../output/messages.h"
#include "../output/status_line.h"

#include <memory>
#include <new>

namespace {

// Read and hashed in pieces of this size, from one buffer for the whole run.
const size_t kPiece = size_t{1} << 20;

RBDSha256 *hash;
std::unique_ptr<char[]> buffer;

[[noreturn]] void FailHashing() {
    RBD_Fatal("ERROR: Failed to compute SHA-256, aborting!\n");
}

void Prepare() {
    if (hash == nullptr) {
        hash = RBD_NewSha256();
        buffer.reset(new (std::nothrow) char[kPiece]);
        if (hash == nullptr || buffer == nullptr) {
            FailHashing();
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

} // namespace

bool RBD_HashEntry(uint32_t offset, uint32_t size, char *hex) {
    Prepare();
    uint64_t at = offset;
    uint64_t left = size;
    bool whole = true;
    while (left > 0 && whole) {
        size_t want = left < kPiece ? static_cast<size_t>(left) : kPiece;
        int64_t got = hkReadAt(package_fd, at, buffer.get(), want);
        whole = got == static_cast<int64_t>(want);
        if (got > 0 && !RBD_AddToSha256(hash, buffer.get(), static_cast<size_t>(got))) {
            FailHashing();
        }
        if (got > 0) {
            at += static_cast<uint64_t>(got);
            left -= static_cast<uint64_t>(got);
            RBD_AdvanceStatus(static_cast<uint64_t>(got));
        }
    }
    // The hash ends either way, so that the next entry starts afresh.
    unsigned char digest[RBD_SHA256_SIZE];
    if (!RBD_EndSha256(hash, digest)) {
        FailHashing();
    }
    if (whole && hex != nullptr) {
        WriteHex(digest, hex);
    }
    return whole;
}

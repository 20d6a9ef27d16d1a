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

bool Prepare(RBDHashing &hashing) {
    if (hashing.hash == nullptr) {
        hashing.hash = RBD_NewSha256();
        hashing.buffer.reset(new (std::nothrow) char[kPiece]);
    }
    return hashing.hash != nullptr && hashing.buffer != nullptr;
}

void WriteHex(const unsigned char *digest, char *hex) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < RBD_SHA256_SIZE; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    hex[2 * RBD_SHA256_SIZE] = '\0';
}

// Where the bytes read are counted: the status line, or a worker's counter.
struct RBDReadCount {
    RBDStatusLine *status;
    std::atomic<uint64_t> *moved;
};

// Adds the `left` bytes at `at` of `fd` to the hash, as far as they can be
// read.
RBDHashed AddBytes(RBDHashing &hashing, int fd, uint64_t at, uint64_t left,
                   const RBDReadCount &count) {
    while (left > 0) {
        size_t want = left < kPiece ? static_cast<size_t>(left) : kPiece;
        int64_t got = hkReadAt(fd, at, hashing.buffer.get(), want);
        if (got > 0 &&
            !RBD_AddToSha256(hashing.hash, hashing.buffer.get(), static_cast<size_t>(got))) {
            return RBD_HASHED_FAILED;
        }
        if (got > 0) {
            at += static_cast<uint64_t>(got);
            left -= static_cast<uint64_t>(got);
            if (count.status != nullptr) {
                RBD_AdvanceStatus(*count.status, static_cast<uint64_t>(got));
            }
            if (count.moved != nullptr) {
                count.moved->fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
            }
        }
        if (got != static_cast<int64_t>(want)) {
            return RBD_HASHED_SHORT;
        }
    }
    return RBD_HASHED_WHOLE;
}

RBDHashed HashCounted(RBDHashing &hashing, int fd, uint32_t offset, uint32_t size, char *hex,
                      const RBDReadCount &count) {
    if (!Prepare(hashing)) {
        return RBD_HASHED_FAILED;
    }
    RBDHashed hashed = AddBytes(hashing, fd, offset, size, count);
    // The hash ends either way, so that the next entry starts afresh.
    unsigned char digest[RBD_SHA256_SIZE];
    if (!RBD_EndSha256(hashing.hash, digest)) {
        return RBD_HASHED_FAILED;
    }
    if (hashed == RBD_HASHED_WHOLE && hex != nullptr) {
        WriteHex(digest, hex);
    }
    return hashed;
}

} // namespace

RBDHashed RBD_HashRange(RBDHashing &hashing, int fd, uint32_t offset, uint32_t size, char *hex,
                        std::atomic<uint64_t> *moved) {
    return HashCounted(hashing, fd, offset, size, hex, RBDReadCount{nullptr, moved});
}

bool RBD_HashEntry(RBDRun &run, uint32_t offset, uint32_t size, char *hex) {
    RBDReadCount count{&run.out.status, nullptr};
    RBDHashed hashed = HashCounted(run.hashing, run.package.fd, offset, size, hex, count);
    if (hashed == RBD_HASHED_FAILED) {
        FailHashing(run.out);
    }
    return hashed == RBD_HASHED_WHOLE;
}

void RBD_ForgetHashing(RBDHashing &hashing) {
    RBD_FreeSha256(hashing.hash);
    hashing.hash = nullptr;
    hashing.buffer.reset();
}

// SHA-256 through Windows' CNG (bcrypt.dll): the algorithm is opened once
// per hash, and a hash object made for each run of bytes.
#include "sha256.h"

#include <new>

#include <windows.h>

#include <bcrypt.h>

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct RBDSha256 {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_HASH_HANDLE hash;
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

bool StartHash(RBDSha256 *hash) {
    return Succeeded(BCryptCreateHash(hash->algorithm, &hash->hash, nullptr, 0, nullptr, 0, 0));
}

} // namespace

RBDSha256 *RBD_NewSha256() {
    RBDSha256 *hash = new (std::nothrow) RBDSha256;
    if (hash == nullptr) {
        return nullptr;
    }
    hash->algorithm = nullptr;
    hash->hash = nullptr;
    if (!Succeeded(
            BCryptOpenAlgorithmProvider(&hash->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        delete hash;
        return nullptr;
    }
    if (!StartHash(hash)) {
        BCryptCloseAlgorithmProvider(hash->algorithm, 0);
        delete hash;
        return nullptr;
    }
    return hash;
}

bool RBD_AddToSha256(RBDSha256 *hash, const void *bytes, size_t length) {
    // BCryptHashData takes at most 4 GiB at once; pieces stay far below.
    auto *input = static_cast<UCHAR *>(const_cast<void *>(bytes));
    while (length > 0) {
        ULONG now = length > 0x40000000 ? 0x40000000 : static_cast<ULONG>(length);
        if (!Succeeded(BCryptHashData(hash->hash, input, now, 0))) {
            return false;
        }
        input += now;
        length -= now;
    }
    return true;
}

bool RBD_EndSha256(RBDSha256 *hash, unsigned char digest[RBD_SHA256_SIZE]) {
    bool done = Succeeded(BCryptFinishHash(hash->hash, digest, RBD_SHA256_SIZE, 0));
    BCryptDestroyHash(hash->hash);
    hash->hash = nullptr;
    return StartHash(hash) && done;
}

void RBD_FreeSha256(RBDSha256 *hash) {
    if (hash != nullptr) {
        if (hash->hash != nullptr) {
            BCryptDestroyHash(hash->hash);
        }
        BCryptCloseAlgorithmProvider(hash->algorithm, 0);
        delete hash;
    }
}

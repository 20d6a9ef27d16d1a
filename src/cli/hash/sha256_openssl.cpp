// SHA-256 through OpenSSL's EVP interface, which picks the processor's own
// instructions (SHA-NI, AVX2) where it has them.
#include "sha256.h"

#include <new>

#include <openssl/evp.h>

// One definition per platform; the two are never built together.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct RBDSha256 {
    EVP_MD_CTX *context;
};

RBDSha256 *RBD_NewSha256() {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context == nullptr) {
        return nullptr;
    }
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    RBDSha256 *hash = new (std::nothrow) RBDSha256;
    if (hash == nullptr) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    hash->context = context;
    return hash;
}

bool RBD_AddToSha256(RBDSha256 *hash, const void *bytes, size_t length) {
    return EVP_DigestUpdate(hash->context, bytes, length) == 1;
}

bool RBD_EndSha256(RBDSha256 *hash, unsigned char digest[RBD_SHA256_SIZE]) {
    unsigned int length = 0;
    return EVP_DigestFinal_ex(hash->context, digest, &length) == 1 && length == RBD_SHA256_SIZE &&
           EVP_DigestInit_ex(hash->context, EVP_sha256(), nullptr) == 1;
}

void RBD_FreeSha256(RBDSha256 *hash) {
    if (hash != nullptr) {
        EVP_MD_CTX_free(hash->context);
        delete hash;
    }
}

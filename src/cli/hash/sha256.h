// SHA-256 by the system's own library: OpenSSL's libcrypto, or CNG
// (bcrypt.dll) on Windows. The page's WebAssembly build has no such library
// and implements the same calls itself (web/glue/sha256.cpp).
#pragma once

#include <cstddef>

const size_t RBD_SHA256_SIZE = 32;

struct RBDSha256;

// A hash ready for bytes; null when the library can't give one.
RBDSha256 *RBD_NewSha256();

// Adds `length` bytes to the hash; false when the library failed.
bool RBD_AddToSha256(RBDSha256 *hash, const void *bytes, size_t length);

// The digest of every byte added since the hash was made or last ended, in
// `digest`; the hash is then ready for the next bytes. False when the
// library failed.
bool RBD_EndSha256(RBDSha256 *hash, unsigned char digest[RBD_SHA256_SIZE]);

// Gives the hash back; null is ignored.
void RBD_FreeSha256(RBDSha256 *hash);

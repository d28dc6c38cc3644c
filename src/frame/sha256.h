// SHA-256 from the platform (bcrypt.dll, Vista and later: a validated implementation
// that every supported Windows and Wine carry), for checking a file against the digest
// of the package row it came from.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/win32.h"

class Sha256 {
public:
    static const size_t kDigestSize = 32;
    static const size_t kHexSize = 2 * kDigestSize + 1;  // lower-case hex with its terminator

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once the platform has refused a step: the digest can then not be had.
    bool update(const void* data, size_t size);
    // Ends the message; the object must not be updated afterwards. On failure `hex` is
    // empty, which matches no digest.
    bool finishHex(char hex[kHexSize]);

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    std::unique_ptr<UCHAR[]> object_;  // the hash's state, which Vista wants from the caller
    bool ok_ = false;
};

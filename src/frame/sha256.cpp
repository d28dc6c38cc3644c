#include "frame/sha256.h"

#include <new>

Sha256::Sha256() {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        algorithm_ = nullptr;
        return;
    }
    ULONG objectSize = 0, got = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm_, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                          sizeof objectSize, &got, 0)) ||
        got != sizeof objectSize)
        return;
    object_.reset(new (std::nothrow) UCHAR[objectSize]);
    if (!object_) return;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm_, &hash_, object_.get(), objectSize, nullptr, 0, 0))) {
        hash_ = nullptr;
        return;
    }
    ok_ = true;
}

Sha256::~Sha256() {
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool Sha256::update(const void* data, size_t size) {
    // The platform takes at most 4 GB a call; the callers' pieces are far smaller.
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (ok_ && size > 0) {
        const ULONG take = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        ok_ = BCRYPT_SUCCESS(BCryptHashData(hash_, const_cast<PUCHAR>(bytes), take, 0));
        bytes += take;
        size -= take;
    }
    return ok_;
}

bool Sha256::finishHex(char hex[kHexSize]) {
    static const char kDigits[] = "0123456789abcdef";
    UCHAR digest[kDigestSize];
    hex[0] = '\0';
    if (!ok_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, sizeof digest, 0))) {
        ok_ = false;
        return false;
    }
    ok_ = false;  // finished: no more updates
    for (size_t i = 0; i < kDigestSize; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0xF];
    }
    hex[2 * kDigestSize] = '\0';
    return true;
}

// SHA-256 (FIPS 180-4), for checking a file against the digest of the package row it
// came from.
#pragma once

#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    static const size_t kDigestSize = 32;
    static const size_t kHexSize = 2 * kDigestSize + 1;  // lower-case hex with its terminator

    Sha256();
    void update(const void* data, size_t size);
    // Ends the message; the object must not be updated afterwards.
    void finish(uint8_t digest[kDigestSize]);
    void finishHex(char hex[kHexSize]);

private:
    void compress(const uint8_t block[64]);

    uint32_t state_[8];
    uint8_t block_[64];
    size_t used_ = 0;
    uint64_t length_ = 0;  // bytes seen
};

#include "response/password_scramble.h"

#include <cstring>

namespace {

const char kDigits[] = "0123456789ABCDEF";
const unsigned kFirstKey = 0xA7;
const unsigned kCheckMask = 0x5C;

unsigned nextKey(unsigned key) { return (key * 5 + 0x3B) & 0xFF; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int hexByte(const char* p) {
    int hi = hexValue(p[0]), lo = hexValue(p[1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

void putByte(char* out, unsigned b) {
    out[0] = kDigits[(b >> 4) & 0xF];
    out[1] = kDigits[b & 0xF];
}

}  // namespace

size_t rspScrambledLength(size_t length) { return 2 + 2 * length; }

bool rspScramble(const char* plain, char* out, size_t capacity) {
    if (!plain || !out || capacity == 0) return false;
    size_t n = std::strlen(plain);
    if (rspScrambledLength(n) >= capacity) {
        out[0] = '\0';
        return false;
    }
    unsigned sum = 0, key = kFirstKey;
    for (size_t i = 0; i < n; ++i) {
        unsigned b = static_cast<unsigned char>(plain[i]);
        sum = (sum + b) & 0xFF;
        putByte(out + 2 + 2 * i, b ^ key);
        key = nextKey(key);
    }
    putByte(out, sum ^ kCheckMask);
    out[rspScrambledLength(n)] = '\0';
    return true;
}

bool rspUnscramble(const char* scrambled, char* out, size_t capacity) {
    if (!scrambled || !out || capacity == 0) return false;
    out[0] = '\0';
    size_t n = std::strlen(scrambled);
    if (n < 2 || n % 2 != 0) return false;
    size_t plainLength = (n - 2) / 2;
    if (plainLength >= capacity) return false;
    int check = hexByte(scrambled);
    if (check < 0) return false;
    unsigned sum = 0, key = kFirstKey;
    for (size_t i = 0; i < plainLength; ++i) {
        int b = hexByte(scrambled + 2 + 2 * i);
        if (b < 0) {
            out[0] = '\0';
            return false;
        }
        unsigned plain = static_cast<unsigned>(b) ^ key;
        if (plain == 0) {
            out[0] = '\0';
            return false;
        }
        out[i] = static_cast<char>(plain);
        sum = (sum + plain) & 0xFF;
        key = nextKey(key);
    }
    if ((sum ^ kCheckMask) != static_cast<unsigned>(check)) {
        out[0] = '\0';
        return false;
    }
    out[plainLength] = '\0';
    return true;
}

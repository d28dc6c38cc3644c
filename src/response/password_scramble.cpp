#include "response/password_scramble.h"

#include <cstring>

namespace {

const int kAlphabetSize = 91;
const int kFirstKey = 37;

int nextKey(int key) { return (key * 7 + 13) % kAlphabetSize; }

// Position of `c` in the alphabet, or -1.
int position(unsigned char c) {
    if (c < '!' || c > '~' || c == '#' || c == '*' || c == '=') return -1;
    int p = c - '!';
    if (c > '#') --p;
    if (c > '*') --p;
    if (c > '=') --p;
    return p;
}

char character(int p) {
    int c = p + '!';
    if (c >= '#') ++c;
    if (c >= '*') ++c;
    if (c >= '=') ++c;
    return static_cast<char>(c);
}

bool keptAsIs(unsigned char c) { return c == ' ' || c == '=' || c >= 0x80; }

// Moves each alphabet character `direction` times its key; false on a character that
// neither moves nor stays.
bool transform(const char* in, char* out, size_t capacity, int direction) {
    if (!in || !out || capacity == 0) return false;
    out[0] = '\0';
    const size_t n = std::strlen(in);
    if (n >= capacity) return false;
    int key = kFirstKey;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        const int p = position(c);
        if (p >= 0) {
            out[i] = character(((p + direction * key) % kAlphabetSize + kAlphabetSize) % kAlphabetSize);
        } else if (keptAsIs(c)) {
            out[i] = static_cast<char>(c);
        } else {
            out[0] = '\0';
            return false;
        }
        key = nextKey(key);
    }
    out[n] = '\0';
    return true;
}

}  // namespace

size_t rspScrambledLength(size_t length) { return length; }

bool rspScramble(const char* plain, char* out, size_t capacity) { return transform(plain, out, capacity, 1); }

bool rspUnscramble(const char* scrambled, char* out, size_t capacity) {
    return transform(scrambled, out, capacity, -1);
}

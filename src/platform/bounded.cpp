#include "platform/bounded.h"

#include <cstdio>
#include <climits>
#include <cstring>

namespace fa9 {

bool copyText(char* dst, size_t capacity, const char* src) {
    if (!dst || capacity == 0) return false;
    dst[0] = '\0';
    return appendText(dst, capacity, src);
}

bool appendText(char* dst, size_t capacity, const char* src) {
    if (!dst || capacity == 0) return false;
    size_t used = strnlen(dst, capacity);
    if (used >= capacity) {  // not terminated within capacity: terminate what is there
        dst[capacity - 1] = '\0';
        return false;
    }
    size_t n = textLength(src);
    size_t room = capacity - 1 - used;
    bool whole = n <= room;
    if (!whole) n = room;
    if (n) std::memcpy(dst + used, src, n);
    dst[used + n] = '\0';
    return whole;
}

bool formatText(char* dst, size_t capacity, const char* format, ...) {
    if (!dst || capacity == 0) return false;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(dst, capacity, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return false;
    }
    return static_cast<size_t>(n) < capacity;
}

size_t textLength(const char* s) { return s ? std::strlen(s) : 0; }

bool equalsNoCase(const char* a, const char* b) {
    if (!a || !b) return a == b;
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

int leadingInteger(const char* s) {
    if (!s) return 0;
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\v' || *s == '\f') ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long long value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        value = value * 10 + (*s - '0');
        if (value > 2147483648LL) break;  // saturates below, as the runtime's atoi does
    }
    if (negative) return value > 2147483648LL ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace fa9

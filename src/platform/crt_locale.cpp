#include "platform/crt_locale.h"

#include <clocale>
#include <cstring>
#include <cwchar>
#include <new>

ScopedCrtLocale::ScopedCrtLocale(const char* name) {
    const char* current = std::setlocale(LC_ALL, nullptr);
    if (!current) return;
    size_t n = std::strlen(current);
    saved_ = new (std::nothrow) char[n + 1];
    // Without a copy we could not go back: better not to switch at all.
    if (!saved_) return;
    std::memcpy(saved_, current, n + 1);
    std::setlocale(LC_ALL, name);
}

ScopedCrtLocale::~ScopedCrtLocale() {
    if (!saved_) return;
    std::setlocale(LC_ALL, saved_);
    delete[] saved_;
}

size_t rspCharLength(const char* p, const char* end) {
    if (p >= end) return 0;
    // Every code page the library runs with keeps ASCII single-byte.
    if (static_cast<unsigned char>(*p) < 0x80) return 1;
    std::mbstate_t state;
    std::memset(&state, 0, sizeof state);
    size_t n = std::mbrlen(p, static_cast<size_t>(end - p), &state);
    if (n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2)) return n == 0 ? 1 : n;
    std::memset(&state, 0, sizeof state);
    bool lead = std::mbrlen(p, 1, &state) == static_cast<size_t>(-2);
    if (lead && p + 1 < end && p[1] != '\0') return 2;
    return 1;
}

std::tm crtLocalTime(std::time_t when) {
    std::tm local = {};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

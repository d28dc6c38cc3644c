// The C runtime's locale, switched for a scope and restored on every way out, the
// character stepping that follows it, and its local time.
#pragma once

#include <cstddef>
#include <ctime>

class ScopedCrtLocale {
public:
    // `name` as setlocale takes it: "C", or "" for the user's default. When the switch
    // fails the locale stays as it was.
    explicit ScopedCrtLocale(const char* name);
    ~ScopedCrtLocale();
    ScopedCrtLocale(const ScopedCrtLocale&) = delete;
    ScopedCrtLocale& operator=(const ScopedCrtLocale&) = delete;

private:
    char* saved_ = nullptr;
};

// Bytes of the character at `p` (before `end`) in the current locale: 1 for single-byte
// characters; a lead byte takes the byte after it along even when the pair is no valid
// character, as the runtime of a double-byte code page does.
size_t rspCharLength(const char* p, const char* end);

// The local time of `when`, from the runtime's reentrant form (each runtime names its own).
std::tm crtLocalTime(std::time_t when);

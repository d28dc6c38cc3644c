// Bounded text helpers: every copy and format in the library goes through these, so
// no buffer is ever written past its capacity. Each says whether the whole text fit.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace fa9 {

// Copies `src` (null counts as empty) into `dst` of `capacity` characters, cutting
// it to capacity - 1 and terminating. Returns false when it was cut or capacity is 0.
bool copyText(char* dst, size_t capacity, const char* src);

// Appends `src` to the text already in `dst`; same cutting rule.
bool appendText(char* dst, size_t capacity, const char* src);

// printf-style format into `dst`, cut to fit and always terminated (when capacity > 0).
// Returns false when the text was cut or the format failed.
bool formatText(char* dst, size_t capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Length of `s`, 0 for null.
size_t textLength(const char* s);

// ASCII comparison without regard to case.
bool equalsNoCase(const char* a, const char* b);

// Leading decimal digits of `s` as the runtime's atoi reads them: optional blanks and
// sign, then digits; 0 when there are none; saturated at the int range on overflow.
int leadingInteger(const char* s);

}  // namespace fa9

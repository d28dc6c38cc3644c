// The scrambled form of password values in response files (keywords named by ENCRYPTED).
//
// Not encryption: it keeps a password from being read over a shoulder or found by a
// text search, nothing more. The form is upper-case hexadecimal, so it passes every
// response-file line unharmed (no blank, '=', '#' or '*'):
//   two digits of a check byte, then two digits per byte of the password, where byte i
//   is XORed with key(i): key(0) = 0xA7, key(i+1) = (key(i) * 5 + 0x3B) mod 256.
//   The check byte is the sum of the password's bytes mod 256, XORed with 0x5C.
// Unscrambling refuses a text of odd length, with a non-hexadecimal digit, with a wrong
// check byte, or whose password would hold a NUL byte.
#pragma once

#include <cstddef>

// Length of the scrambled form of a password of `length` bytes, without terminator.
size_t rspScrambledLength(size_t length);

// Writes the scrambled form of `plain` into `out` (capacity bytes, terminated); false
// when it does not fit.
bool rspScramble(const char* plain, char* out, size_t capacity);

// Writes the password of the scrambled text `scrambled` into `out` (capacity bytes,
// terminated); false when the text is no scrambled form or does not fit.
bool rspUnscramble(const char* scrambled, char* out, size_t capacity);

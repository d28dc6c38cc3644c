// The scrambled form of password values in response files (keywords named by ENCRYPTED).
//
// Not encryption: it keeps a password from being read over a shoulder or found by a
// text search, nothing more. The scrambled form has the password's length and is made
// of the same kind of characters, so the keyword's value rule judges it as it would
// judge the password, and the engine can treat it as opaque until it stores it:
//   the alphabet is the printable ASCII characters '!'..'~' without '#', '*' and '='
//   (91 characters); character i of the password, when in the alphabet, moves
//   key(i) places forward in it: key(0) = 37, key(i+1) = (key(i) * 7 + 13) mod 91.
//   A blank, '=' and bytes from 0x80 on stay as they are.
// '#' and '*' end a response-file value, and control characters cannot stand in one, so
// a password holding them has no scrambled form.
#pragma once

#include <cstddef>

// Length of the scrambled form of a password of `length` bytes, without terminator.
size_t rspScrambledLength(size_t length);

// Writes the scrambled form of `plain` into `out` (capacity bytes, terminated); false
// (and `out` empty) when it does not fit or `plain` holds a character without one.
bool rspScramble(const char* plain, char* out, size_t capacity);

// Writes the password of the scrambled text `scrambled` into `out` (capacity bytes,
// terminated); false (and `out` empty) when it does not fit or the text holds a
// character no scrambled form has.
bool rspUnscramble(const char* scrambled, char* out, size_t capacity);

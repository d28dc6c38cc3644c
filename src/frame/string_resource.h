// Message texts from the bytes of a string library, without loading it: script actions
// take them from the installer's own copy of the package (the library's Binary row read
// into memory), never from a file in a folder the user can write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The text of string resource `id` in the PE file whose bytes are `image` (as on disk),
// as LoadString would give it in UTF-16 (without a terminator): RT_STRING block id/16+1,
// entry id%16, the block's first language. Like LoadString, only the low 16 bits of `id`
// count. False (and `text` empty) when the bytes are no PE32/PE32+ image with resources,
// the string is not there (or empty), or anything is out of bounds.
bool iFindStringResource(const unsigned char* image, size_t size, uint32_t id, std::u16string& text);

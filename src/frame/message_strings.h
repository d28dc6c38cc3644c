// Message texts by number from the string-resource library, in the engine's language.
#pragma once

#include "frame/msg_token_holder.h"

#include <cstddef>
#include <cstdint>

extern const char* const kStringLibraryName;  // "fa9istring_v97.dll"
extern const char* const kEnglishStringsRow;  // "FA9ISTRING_EN_US", where a language has no row of its own

// The Binary row of the string library in the engine's message language
// ("FA9ISTRING_DE_DE"); English when no engine can be had.
void ureStringLibraryRow(char* out, size_t capacity);

// The text of message `number` in `buffer` (`size` characters), tokens substituted when
// given: 0, 5001 (library not loadable), 5005 (no such string), 5006 (buffer too small)
// or -1 (bad substitution, or no memory for it).
int ureGetString(uint32_t number, char* buffer, int size, const MsgTokenHolder* tokens);

// String `number` of the library at `libraryPath` (mapped as data once, then kept for the
// process): 0, 5001, 5005 or 5006. On failure `buffer` holds an explanation. In the
// script the texts come from the installer's copy of the package instead, when it can be had.
int liteLoadString(uint32_t number, char* buffer, uint32_t size, const char* libraryPath);

// Whether a string library (kStringLibraryName) is mapped in this process already.
bool ureStringLibraryLoaded();
// Gives back every string library mapped in this process: before the runtime folders
// they were mapped from are removed, and for a host that goes on after the process they
// were mapped in (the unit tests' machines). The next lookup maps them again.
void ureReleaseStringLibraries();
// Forgets what this load of the library cached (at the end of a custom action): the
// mappings stay for the next custom action.
void ureForgetStringLibraries();

enum class Gate;  // trust/held_path.h

// The message that gives a refusal of the gate its reason, its one token the place that
// refused: 7114 (others may change it), 7117 (a link, or a link on the way), 7118 (not on a
// local fixed drive), 7119 (not there, or it could not be opened).
uint32_t ureRefusalMessage(Gate verdict);

// Replaces "%N" with token N-1 (empty when there is none); "%" before anything else is
// dropped and the next character kept; "%0" stops with -1. The result is cut to fit
// `capacity`, which gives 5006.
int ureSubstituteTokens(const char* text, const MsgTokenHolder& tokens, char* out, size_t capacity);

// Paths the script acts on as SYSTEM, pinned and checked through a handle: a path
// checked once and used later could lead elsewhere in between, through a junction or
// symbolic link that someone who can write a folder on the way put there.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"

#include <cstddef>
#include <string>
#include <vector>

// Opens the file or folder `path` into `held` for reading (a folder: listing it), sharing
// reading and writing but not deleting: while the handle is held, Windows neither renames
// nor deletes it. False when it cannot be opened.
bool iHoldPath(const char* path, unique_hfile& held);

// The folders between the root of `path` (made full: "C:\", "\\server\share\", also after
// "\\?\") and `path` itself, from the top down; false when the path does not fit.
bool iFoldersAbove(const char* path, std::vector<std::string>& folders);

// Holds every folder between the root of `path` (made full) and `path` itself, from the
// top down, as iHoldPath does: while they are held none of them is renamed or deleted, so
// no link can take the place of one, and a path below them keeps leading where it led.
// False (nothing held) when one cannot be held or the path does not fit.
bool iHoldFoldersAbove(const char* path, std::vector<unique_hfile>& held);

// The full path of what `held` is, every link on the way resolved ("C:\a\b", or
// "\\server\share\b"); false when it cannot be read or does not fit `capacity`.
bool iFinalPath(HANDLE held, char* out, size_t capacity);

// Whether what `held` is lies at `path` itself (made full and long), compared without
// regard to case: false when a link on the way leads elsewhere, or a path cannot be read.
bool iLiesAt(HANDLE held, const char* path);

// Upper-cases the letters of `path` in place (characters as the C runtime's locale tells
// them apart: the second byte of a double-byte character stays as it is).
void iUpperCasePath(char* path);

// Whether two full paths name the same place, without regard to the case of letters (as the
// C runtime's locale tells characters apart, both sides alike).
bool iSamePath(const char* a, const char* b);

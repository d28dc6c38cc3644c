// File attributes of a path that may come enclosed in double quotes, as paths taken
// from properties and command lines do, and a new name that names nothing yet.
#pragma once

#include "platform/win32.h"

// GetFileAttributesA of `path` with one leading and one trailing double quote ignored;
// INVALID_FILE_ATTRIBUTES for a path too long to name anything.
DWORD iGetUnquotedFileAttributes(const char* path);

// A regular file (a folder does not count); a leading and a trailing double quote are ignored.
bool iIsUnquotedRegularFile(const char* path);

// An existing folder.
bool iIsDirectory(const char* path);

// The first path in `directory` whose name, `templ` with its question marks replaced by
// a zero-padded counter, names neither a file nor a folder; null when the counter runs
// out. A null template means "????????.???". The result lives in one process-wide buffer
// that the next call overwrites.
const char* GenerateUniqueName(const char* directory, const char* templ);

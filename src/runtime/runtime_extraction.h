// Helpers that lay out the installation's runtime directory from the package.
#pragma once

#include "platform/win32.h"

// Writes the Data stream of Binary-table row `rowName` to `path`, a new file: 0, 2 when
// something of that name exists already (nothing logged, nothing changed), or 1 on any
// other failure (logged). `database` stays open.
UINT StreamFileFromBinary(MSIHANDLE hInstall, MSIHANDLE database, const char* rowName, const char* path);

// 0 when `path` is a folder afterwards (creating what is missing), -1 otherwise.
int CreateDirectoryTree(const char* path);

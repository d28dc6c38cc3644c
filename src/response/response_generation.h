// Setting up the response file of a custom action: the user's file of a silent
// installation, or one written here from the dialog choices of a full-UI installation.
#pragma once

#include "platform/win32.h"

#include <cstddef>

// Names the response file to the engine (writing one first in a full-UI installation
// without RSP_FILE_PATH), checks FILE against FA9_COPY_NAME and sets the product code.
// 0 or 1603.
UINT liteInitURERspFile(MSIHANDLE hInstall);

// Writes a response file from the session's choices into TempFolder and copies its full
// name into `path` (at least 260 bytes). 0, 1603, 5046 or 5274.
UINT liteCreateGUIResponseFile(MSIHANDLE hInstall, char* path);

// True when `path` names a file liteCreateGUIResponseFile wrote (which may be deleted
// and written again), false for any other file, such as one the user supplied.
bool liteIsGeneratedResponseFile(MSIHANDLE hInstall, const char* path);

// The environment of the custom-action process: the runtime folder and the installed
// path of the package's tools component go to the front of PATH.
#pragma once

#include "platform/win32.h"

// The path of component `componentCode` of this product in `path` (capacity in
// `*capacity`): 0 (also for a state the installer does not know yet: the path is then
// empty), 5011 when the component is absent, not used or the arguments are refused, or
// the result of the ProductCode read.
UINT liteGetComponentPath(MSIHANDLE hInstall, const char* componentCode, char* path, DWORD* capacity);

// Puts CURRENT_PROCESS_DIRECTORY and the tools component's path in front of PATH. 0 or 1603.
UINT liteInitializeEnvironment(MSIHANDLE hInstall);

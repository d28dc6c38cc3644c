// Deleting a registry key with everything below it, for the key classes and for the
// deferred property store alike.
#pragma once

#include "platform/win32.h"

namespace fa9 {

// Deletes `path` under `parent` and everything below it, except a direct sub-key named
// `keep` (without regard to case; null: keep nothing). Paths below the first level are
// plain sub-key names. Answers a Win32 error code; ERROR_BADKEY for an empty or null path.
LONG deleteKeyTree(HKEY parent, const char* path, const char* keep);

}  // namespace fa9

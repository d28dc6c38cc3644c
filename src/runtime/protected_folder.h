// Folders whose contents only the installation can write.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"

// Creates `path` with its own access list, protected from what its parent would pass
// down: full control for SYSTEM and Administrators, and for the user the process runs
// as when `withInstallingUser`; what is created inside inherits it. False, with the
// last error set, when the folder already exists (ERROR_ALREADY_EXISTS) or cannot be
// created: an existing folder may carry anyone's list, so it is never reused.
bool iCreateProtectedFolder(const char* path, bool withInstallingUser);

// The SID of the process token's user as text ("S-1-5-21-..."); false when it cannot be read.
bool iTokenUserSid(unique_local<LPSTR>& sid);

// Whether `path` is owned by SYSTEM, Administrators or the account this process runs as:
// in a script running as SYSTEM, nothing a standard user made.
bool iOwnedByAccountOrAdministrators(const char* path);

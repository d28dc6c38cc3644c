// Who an action running as SYSTEM, or elevated, trusts with what it runs, reads, copies
// or deletes: SYSTEM, Administrators, TrustedInstaller and the account the process runs as,
// unless the process holds the full half of a split token (an elevated administrator beside
// unelevated programs of the same account; under Wine, where one account owns every file,
// it is trusted). Written here once; the access list the library gives its own folders
// comes from the same table.
#pragma once

#include "platform/win32.h"

// True for an elevated token (and SYSTEM's); false for a standard user's, a filtered
// administrator's, or when it cannot be told. The gate's checks apply by this, not by the
// run mode: a process that acts for others must not be led by those others.
bool iRunsElevated();

// True when the process runs as SYSTEM.
bool iRunsAsSystem();

// True when the owner of what `held` is open on (READ_CONTROL) is trusted, and no entry of
// its access list that applies to it lets anyone else write or append to it, add or
// delete what it holds, delete it, change its attributes, its list or its owner. Deny
// entries are passed over, which can only refuse more. False too when the owner or the
// list cannot be read, the list is null (everyone may do everything) or holds an allow
// entry of a kind not read here: a check that cannot be made fails.
bool iOnlyTrustedCanChange(HANDLE held);

// Whether what `held` is open on is owned by a trusted account.
bool iOwnedByTrusted(HANDLE held);

// Creates `path` with its own access list, protected from what its parent would pass
// down: full control for SYSTEM and Administrators, and for the user the process runs
// as when `withProcessUser`; what is created inside inherits it. False, with the last
// error set, when the folder already exists (ERROR_ALREADY_EXISTS) or cannot be created:
// an existing folder may carry anyone's list, so it is never reused.
bool iCreateProtectedFolder(const char* path, bool withProcessUser);

// Installer properties in every run mode. Immediate (and commit) custom actions use
// the session; deferred and rollback ones, which the installer gives almost no
// properties, use the store that the installation fills in the user's registry.
#pragma once

#include "platform/scoped_handles.h"
#include "platform/win32.h"

extern const char* const kPropertyStoreKey;  // below the installing user's hive root
extern const char* const kPropertyNotSet;    // a value that counts as not set

// `capacity`: in, the buffer's capacity in characters; out, the length as the
// installer reports it, or the stored size in bytes when the value came from the store.
UINT iMsiGetProperty(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity);
UINT iMsiSetProperty(MSIHANDLE hInstall, const char* name, const char* value);

// A path that decides what SYSTEM runs, reads or writes: as iMsiGetProperty, but in the
// script from the action's own data alone (the store is the installing user's to change):
// kNotInActionData (7115, for the caller to report naming `name`) when the data lacks it.
const UINT kNotInActionData = 7115;
UINT iMsiGetActionProperty(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity);

// The name of the product copy this package installs into; `out` holds 1024 characters.
UINT iGetCopyName(MSIHANDLE hInstall, char* out);
bool iIsPropertySet(MSIHANDLE hInstall, const char* name, char* buffer, DWORD* capacity);
bool iIsMigrateMode(MSIHANDLE hInstall);

// True when the session runs as a deferred or rollback custom action.
bool iIsStoreMode(MSIHANDLE hInstall);

// Whether the action runs in the installer's script (deferred, rollback or commit), often
// as SYSTEM: there nothing the installing user could change may be shown, loaded or run.
bool iRunsInScript(MSIHANDLE hInstall);

// The installing user's hive root for the store: HKEY_USERS\<sid> when `sid` is not
// empty and that key opens with full access (kept open in `userKey`), else
// HKEY_CURRENT_USER.
HKEY iUserRoot(const char* sid, unique_hkey& userKey);

// One value of the store under `root` (the key created when missing): 0, 5 when access
// is denied, else 0x90000002.
UINT iStoreValue(HKEY root, const char* name, const char* value);

// The store's key under `root`, created once for many values (each creation is a
// question to the registry); each write answers as iStoreValue would.
class StoreKey {
public:
    explicit StoreKey(HKEY root);
    UINT write(const char* name, const char* value) const;

private:
    unique_hkey key_;
    LONG created_;
};

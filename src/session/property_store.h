// The deferred property store's life: filled before the installation script runs,
// removed after the installation.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

// A name and value saved into the store after everything else (the response file's
// settings, which the caller reads).
struct StoredSetting {
    std::string name;
    std::string value;
};

// Saves the Property table's properties, the fixed list of names the deferred custom
// actions need, five components' selection states and then `settings` into the store.
// 0, 6045 without a database, -1 when the Property table cannot be read, else the
// result of the last store write or read of the later steps.
UINT iSavePropertiesForDeferred(MSIHANDLE hInstall, const std::vector<StoredSetting>& settings = {});

// Hands every script row of the CustomAction table that calls this library (the Binary
// row of PreProcessInstallCA's own row) the values its export reads, as a property
// named after the row (its CustomActionData). 0, or the installer's result of a failed
// property write.
UINT iHandActionData(MSIHANDLE hInstall);

// Deletes the store with everything in it, then each key of its path that the library
// created (as iNoteCreatedStoreKeys recorded it) and that is empty now. Reports nothing.
void iDeletePropertyStore(MSIHANDLE hInstall);

// Before the store is first written under `root`: records, in the store's parent key, the
// highest key of the store's path that does not exist yet, so that the removal takes back
// exactly what the library made. Nothing is recorded when the whole path above the store
// exists. (iSavePropertiesForDeferred calls it.)
void iNoteCreatedStoreKeys(HKEY root);

// Whether `component` is newly installed locally by this installation (immediate mode),
// or was recorded as SELECTED in the store (deferred and rollback mode).
bool iIsComponentSelected(MSIHANDLE hInstall, const char* component);

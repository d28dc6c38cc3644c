// The deferred property store's life: filled before the installation script runs,
// removed after the installation.
#pragma once

#include "platform/win32.h"

// Saves the Property table's properties, the fixed list of names the deferred custom
// actions need, five components' selection states and the response file's settings
// into the store. 0, 6045 without a database, -1 when the Property table cannot be
// read, else the result of the last store write or read of the later steps.
UINT iSavePropertiesForDeferred(MSIHANDLE hInstall);

// Deletes the store with everything in it. Reports nothing.
void iDeletePropertyStore(MSIHANDLE hInstall);

// Whether `component` is newly installed locally by this installation (immediate mode),
// or was recorded as SELECTED in the store (deferred and rollback mode).
bool iIsComponentSelected(MSIHANDLE hInstall, const char* component);

// Temporary rows of the installer's Control table: a custom action adds a control to a
// dialog (or takes one away) for the rest of the installation, without touching the
// package.
#pragma once

#include "platform/win32.h"

// Inserts a temporary Control row with these twelve columns. The installer's result;
// 0 when the session has no active database.
UINT iAddControl(MSIHANDLE hInstall, const char* dialog, const char* control, const char* type, int x, int y,
                 int width, int height, int attributes, const char* property, const char* text,
                 const char* nextControl, const char* help);

// Deletes the Control row of `control` in `dialog`. The installer's result; 0 when the
// session has no active database.
UINT iDeleteControl(MSIHANDLE hInstall, const char* dialog, const char* control);

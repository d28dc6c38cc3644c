// Lines written straight into the installer log, without a report record.
#pragma once

#include "platform/win32.h"

// One free-text line in the installer log.
void iLogMessage(MSIHANDLE hInstall, const char* text);

// A line for a failed property call (`operation` is "iMsiGetProperty" or
// "iMsiSetProperty"); nothing when `rc` is 0.
void iLogCallFailure(MSIHANDLE hInstall, const char* operation, const char* propertyName, int rc);


// The one platform include of the library: the real Windows headers on Windows,
// the simulated Windows everywhere else. Nothing else in src/ tests for the platform.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>
#include <aclapi.h>
#include <richedit.h>
#include <msi.h>
#include <msiquery.h>
#include <process.h>
#include <bcrypt.h>
#else
#include "winsim/win32_api.h"
#endif

// The custom actions the installer calls, by their export names (see fa9wolt.def).
#pragma once

#include "platform/win32.h"

extern "C" {
UINT __stdcall InitializeWOLTInstallCA(MSIHANDLE hInstall);
UINT __stdcall SetWOLTDialogTitlePropertiesCA(MSIHANDLE hInstall);
UINT __stdcall SetWOLTTemplateCompCA(MSIHANDLE hInstall);
UINT __stdcall DetectDOTNETEnvCA(MSIHANDLE hInstall);
UINT __stdcall CheckWOLTPrereqCA(MSIHANDLE hInstall);
UINT __stdcall CheckWOLTInstallDirCA(MSIHANDLE hInstall);
}

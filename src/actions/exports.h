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
UINT __stdcall RegisterWOLTKeysCA(MSIHANDLE hInstall);
UINT __stdcall RemoveWOLTKeysCA(MSIHANDLE hInstall);
UINT __stdcall DetectDotNetDataProviderInstalledCA(MSIHANDLE hInstall);
UINT __stdcall SetupWOLTTemplateCA(MSIHANDLE hInstall);
UINT __stdcall RegisterWOLTMachineCfgCA(MSIHANDLE hInstall);
UINT __stdcall UnregisterWOLTMachineCfgCA(MSIHANDLE hInstall);
UINT __stdcall SetSilentInstallPropertiesCA(MSIHANDLE hInstall);
UINT __stdcall AddSummaryCA(MSIHANDLE hInstall);
UINT __stdcall CopyVC80AssembliesCA(MSIHANDLE hInstall);
UINT __stdcall PreProcessInstallCA(MSIHANDLE hInstall);
UINT __stdcall PostProcessInstallCA(MSIHANDLE hInstall);
// Has the custom-action shape but is not exported: nothing can schedule it by name.
UINT __stdcall RegCOMForCSFunctionsCA(MSIHANDLE hInstall);
}

// The worker of the two machine-configuration actions: mode 1 registers, any other
// unregisters.
UINT setupWOLTMachineCfg(MSIHANDLE hInstall, int mode);

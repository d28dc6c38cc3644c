// RegCOMForCSFunctionsCA: registers the add-ins' .NET assembly as the in-process
// server of its COM class: imports the registry script silently, then points the
// class's CodeBase at the assembly in the runtime folder. Not exported.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "registry/fa9i_registry.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kBufferCapacity = 261;
const char* const kClassKey = "CLSID\\{49921198-B717-4EA7-8D45-80CCC1867264}\\InprocServer32\\0.0.0.0";

void report(uint32_t flags, int probe, UINT rc, uint32_t message, const char* first, const char* second = nullptr) {
    MsgTokenHolder tokens(first);
    if (second) tokens.addString(second);
    ureReport(flags, "RegCOMForCSFunctionsCA", probe, static_cast<int32_t>(rc), message, &tokens, 0, true);
}

// Windows' registry editor by its full path: a bare name would be looked for in the
// current directory (the runtime folder, the installing user's) before the Windows
// folder. A 32-bit process on 64-bit Windows takes the 32-bit editor of SysWOW64, which
// imports into the registry view the add-ins are read from, as the name found beside the
// 32-bit installer did.
bool registryEditor(char* out, size_t capacity) {
    char folder[kBufferCapacity] = {};
    BOOL wow64 = FALSE;
    const UINT n = IsWow64Process(GetCurrentProcess(), &wow64) && wow64
                       ? GetSystemWow64DirectoryA(folder, kBufferCapacity)
                       : GetSystemWindowsDirectoryA(folder, kBufferCapacity);
    return n > 0 && n < kBufferCapacity && fa9::formatText(out, capacity, "%s\\regedit.exe", folder);
}

// Imports the registry script beside the assembly; false when it did not succeed. The
// script path is quoted: a runtime folder with blanks would split it otherwise.
bool importScript(MSIHANDLE hInstall, InstallProcess& runner, const char* runtimeDir) {
    char script[kBufferCapacity] = {};
    char command[kBufferCapacity] = {};
    char editor[kBufferCapacity] = {};
    // The script path ends in its name, so only a double quote could break its quotes.
    if (std::strchr(runtimeDir, '"')) {
        report(URE_LOG_ERROR, 50, 0, 7103, "CURRENT_PROCESS_DIRECTORY", runtimeDir);
        return false;
    }
    if (!registryEditor(editor, sizeof(editor)) ||
        !joinCommand(script, sizeof(script), {runtimeDir, "\\ZNK.WOLT.Install.reg"}) ||
        !joinCommand(command, sizeof(command), {editor, " -s \"", script, "\""})) {
        if (!command[0]) fa9::copyText(command, sizeof(command), script);
        report(URE_SHOW_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return false;
    }
    uint32_t exitCode = 0;
    const uint32_t result = runCommand(runner, command, &exitCode, programTimeLimit(hInstall));
    if (result == 7102) return false;  // reported by the runner
    if (result != 0) {
        report(URE_SHOW_ERROR, 20, result, 5030, command);
        return false;
    }
    if (exitCode != 0) {
        runner.traceOutput("RegCOMForCSFunctionsCA", 1);
        return false;
    }
    return true;
}

UINT registerCodeBase(MSIHANDLE hInstall, const char* runtimeDir) {
    char shortDir[kBufferCapacity] = {};
    char codeBase[kBufferCapacity] = {};
    const DWORD n = GetShortPathNameA(runtimeDir, shortDir, kBufferCapacity);
    if (n == 0 || n >= kBufferCapacity) {
        iLogMessage(hInstall, "Failed to generate shortname");
        return ERROR_INSTALL_FAILURE;
    }
    // The short form keeps blanks out of the URL.
    // A code base that does not fit is not written cut; the key is not even created.
    if (fa9::formatText(codeBase, sizeof(codeBase), "file:///%s\\ZNK.WOLT.Install.dll", shortDir)) {
        FA9iCopyNameRegistry key(HKEY_CLASSES_ROOT, kClassKey, true, nullptr, KEY_ALL_ACCESS);
        if (key.setValue("CodeBase", reinterpret_cast<const BYTE*>(codeBase),
                         static_cast<DWORD>(std::strlen(codeBase) + 1), REG_SZ) == 0)
            return 0;
    }
    char valueName[256] = {};
    fa9::formatText(valueName, sizeof(valueName), "%s\\CodeBase", kClassKey);
    report(URE_LOG_ERROR, 40, 0, 5334, valueName, codeBase);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" UINT __stdcall RegCOMForCSFunctionsCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        char runtimeDir[kBufferCapacity] = {};
        InstallProcess runner;
        CustomActionContext context(hInstall);
        DWORD capacity = kBufferCapacity;
        UINT rc = iMsiGetProperty(hInstall, "CURRENT_PROCESS_DIRECTORY", runtimeDir, &capacity);
        iLogCallFailure(hInstall, "iMsiGetProperty", "CURRENT_PROCESS_DIRECTORY", static_cast<int>(rc));
        if (rc != ERROR_SUCCESS) {
            report(URE_LOG_ERROR, 10, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
            return rc;
        }
        if (!importScript(hInstall, runner, runtimeDir)) return static_cast<UINT>(ERROR_INSTALL_FAILURE);
        return registerCodeBase(hInstall, runtimeDir);
    });
}

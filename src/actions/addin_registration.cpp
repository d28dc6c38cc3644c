// RegisterWOLTKeysCA, RemoveWOLTKeysCA and DetectDotNetDataProviderInstalledCA: the
// three commands of the common-tool registration program in the runtime folder.
#include "actions/exports.h"
#include "frame/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kPathCapacity = 261;
const DWORD kNameCapacity = 1024;
const char* const kProgram = "\\commontoolreg.exe";

void report(const char* action, uint32_t flags, int probe, UINT rc, uint32_t message, const char* first = nullptr,
            const char* second = nullptr) {
    MsgTokenHolder tokens(first);
    if (second) tokens.addString(second);
    ureReport(flags, action, probe, static_cast<int32_t>(rc), message, first ? &tokens : nullptr, 0, true);
}

// CURRENT_PROCESS_DIRECTORY, the runtime folder that holds the program; the read's result.
UINT readRuntimeDirectory(MSIHANDLE hInstall, char* buffer) {
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetProperty(hInstall, "CURRENT_PROCESS_DIRECTORY", buffer, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "CURRENT_PROCESS_DIRECTORY", static_cast<int>(rc));
    return rc;
}

UINT readProductName(MSIHANDLE hInstall, char* buffer) {
    DWORD capacity = kNameCapacity;
    UINT rc = iMsiGetProperty(hInstall, "ProductName", buffer, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "ProductName", static_cast<int>(rc));
    return rc;
}

UINT registerKeys(MSIHANDLE hInstall, InstallProcess& runner) {
    const char* const self = "RegisterWOLTKeysCA";
    char installDir[kPathCapacity] = {};
    char runtimeDir[kPathCapacity] = {};
    char command[kPathCapacity] = {};
    char productName[kNameCapacity] = {};
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetProperty(hInstall, "INSTALLDIR", installDir, &capacity);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 10, rc, 5598, "INSTALLDIR");
        return 0;
    }
    const size_t n = std::strlen(installDir);
    if (n > 0 && installDir[n - 1] == '\\') installDir[n - 1] = '\0';
    rc = readRuntimeDirectory(hInstall, runtimeDir);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 20, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
        return 0;
    }
    if (!joinCommand(command, sizeof(command),
                     {runtimeDir, kProgram, " /commontoolinstall -DINSTALLDIR=\"", installDir, "\""})) {
        report(self, URE_SHOW_ERROR, 30, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return 0;
    }
    uint32_t exitCode = 0;
    uint32_t result = runCommand(runner, command, &exitCode);
    if (result != 0) {
        report(self, URE_SHOW_ERROR, 30, result, 5030, command);
        return 0;
    }
    if (exitCode == 0) return 0;
    rc = readProductName(hInstall, productName);
    switch (exitCode) {
    case 2: report(self, URE_SHOW_ERROR, 40, rc, 3145, productName, productName); break;
    case 6: report(self, URE_SHOW_ERROR, 50, rc, 3167, productName); break;
    case 7: report(self, URE_SHOW_ERROR, 60, rc, 3169); break;
    default: break;
    }
    runner.traceOutput(self, 1);
    return 0;
}

UINT removeKeys(MSIHANDLE hInstall, InstallProcess& runner) {
    const char* const self = "RemoveWOLTKeysCA";
    char runtimeDir[kPathCapacity] = {};
    char command[kPathCapacity] = {};
    char productName[kNameCapacity] = {};
    UINT rc = readRuntimeDirectory(hInstall, runtimeDir);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 10, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
        return 0;
    }
    if (!joinCommand(command, sizeof(command), {runtimeDir, kProgram, " /commontooluninstall"})) {
        report(self, URE_LOG_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return 0;
    }
    uint32_t exitCode = 0;
    if (runCommand(runner, command, &exitCode) != 0) {
        runner.traceOutput(self, 1);
        return 0;
    }
    if (exitCode == 0) return 0;
    rc = readProductName(hInstall, productName);
    switch (exitCode) {
    case 3: report(self, URE_SHOW_ERROR, 30, rc, 3166, productName); break;
    case 7: report(self, URE_SHOW_ERROR, 40, rc, 3169); break;
    case 8: report(self, URE_SHOW_ERROR, 50, rc, 3168, productName); break;
    default: break;
    }
    runner.traceOutput(self, 1);
    return 0;
}

// True only when the program answered 9: the provider is installed.
bool providerConfirmed(InstallProcess& runner, const char* command) {
    const char* const self = "DetectDotNetDataProviderInstalledCA";
    uint32_t exitCode = 0;
    if (runCommand(runner, command, &exitCode) != 0) {
        runner.traceOutput(self, 1);
        return false;
    }
    if (exitCode == 9) return true;
    if (exitCode != 10) runner.traceOutput(self, 1);
    return false;
}

UINT detectProvider(MSIHANDLE hInstall, InstallProcess& runner) {
    const char* const self = "DetectDotNetDataProviderInstalledCA";
    char runtimeDir[kPathCapacity] = {};
    char command[kPathCapacity] = {};
    char productName[kNameCapacity] = {};
    char providerMessage[kNameCapacity] = {};
    UINT rc = readRuntimeDirectory(hInstall, runtimeDir);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 10, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
        return rc;
    }
    if (joinCommand(command, sizeof(command), {runtimeDir, kProgram, " /checkprovider"})) {
        if (providerConfirmed(runner, command)) return 0;
    } else {
        // The check cannot run, so the provider is not confirmed.
        report(self, URE_LOG_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
    }
    char scratch[kNameCapacity] = {};
    ureGetString(3170, scratch, sizeof(scratch), nullptr);
    fa9::copyText(providerMessage, sizeof(providerMessage), scratch);
    fa9::appendText(providerMessage, sizeof(providerMessage), "\n\r");
    readProductName(hInstall, productName);
    report(self, iIsReducedUI(hInstall) ? URE_LOG_ERROR : URE_SHOW_ERROR, 40, 0, 3164, productName,
           providerMessage);
    return ERROR_INSTALL_FAILURE;
}

// Every one of the three keeps its runner for the whole call.
template <typename Worker>
UINT runWithRunner(MSIHANDLE hInstall, Worker worker) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        InstallProcess runner;
        return worker(hInstall, runner);
    });
}

}  // namespace

extern "C" UINT __stdcall RegisterWOLTKeysCA(MSIHANDLE hInstall) { return runWithRunner(hInstall, registerKeys); }

extern "C" UINT __stdcall RemoveWOLTKeysCA(MSIHANDLE hInstall) { return runWithRunner(hInstall, removeKeys); }

extern "C" UINT __stdcall DetectDotNetDataProviderInstalledCA(MSIHANDLE hInstall) {
    return runWithRunner(hInstall, detectProvider);
}

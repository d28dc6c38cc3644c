// RegisterWOLTKeysCA, RemoveWOLTKeysCA and DetectDotNetDataProviderInstalledCA: the
// three commands of the common-tool registration program. Registering and removing run in
// the script, from a copy of the package's own (program_copy.h); the provider check is an
// immediate action and runs the runtime folder's, held through the gate.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "runtime/program_copy.h"
#include "session/property_access.h"
#include "trust/held_path.h"
#include "trust/trusted_accounts.h"

#include <cstring>
#include <iterator>

namespace {

const DWORD kPathCapacity = 261;
const DWORD kNameCapacity = 1024;
const char* const kProgram = "\\commontoolreg.exe";
const uint32_t kTimedOut = 7102;

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

// The runtime folder must hold a command's program: its quote refused (7103, the
// installation stops) or a folder that is no full path reported (7104). 0 when usable.
UINT checkRuntimeDirectory(const char* action, const char* runtimeDir) {
    if (std::strchr(runtimeDir, '"')) {
        report(action, URE_LOG_ERROR, 70, 0, 7103, "CURRENT_PROCESS_DIRECTORY", runtimeDir);
        return ERROR_INSTALL_FAILURE;
    }
    if (!isProgramFolder(runtimeDir, std::strlen(kProgram))) {
        report(action, URE_LOG_ERROR, 80, 0, 7104, "CURRENT_PROCESS_DIRECTORY", runtimeDir);
        return ERROR_BAD_PATHNAME;
    }
    return 0;
}

// The program path in double quotes, then `arguments`: what the runner runs as it is.
// `programDir` is the folder the program runs from.
bool quotedCommand(char* out, const char* programDir, const char* arguments) {
    return joinCommand(out, InstallProcess::kCommandCapacity, {"\"", programDir, kProgram, "\"", arguments});
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
    UINT rc = iMsiGetActionProperty(hInstall, "INSTALLDIR", installDir, &capacity);
    if (rc == kNotInActionData) {
        report(self, URE_SHOW_ERROR, 15, ERROR_INSTALL_FAILURE, 7115, "INSTALLDIR");
        return ERROR_INSTALL_FAILURE;
    }
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 10, rc, 5598, "INSTALLDIR");
        return 0;
    }
    if (std::strchr(installDir, '"')) {
        report(self, URE_LOG_ERROR, 70, 0, 7103, "INSTALLDIR", installDir);
        return ERROR_INSTALL_FAILURE;
    }
    const size_t n = std::strlen(installDir);
    if (n > 0 && installDir[n - 1] == '\\') installDir[n - 1] = '\0';
    // The program, run as SYSTEM, registers and writes below the folder it is handed: one
    // that others may change, or a link on its way, would have it do so for them. Held
    // until it has run. Acting for others, a folder not there is refused too (someone who
    // may change the folder above could make it a link once the program runs); a standard
    // user's own run is handed it as before.
    HeldPath folder;
    const Gate gate = folder.hold(installDir, Held::Folder, 1);
    if (gate != Gate::Accepted && (gate != Gate::Missing || iRunsElevated())) {
        report(self, URE_SHOW_ERROR, 75, ERROR_INSTALL_FAILURE, ureRefusalMessage(gate), folder.refused());
        return ERROR_INSTALL_FAILURE;
    }
    rc = readRuntimeDirectory(hInstall, runtimeDir);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 20, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
        return 0;
    }
    rc = checkRuntimeDirectory(self, runtimeDir);
    if (rc != 0) return rc == ERROR_INSTALL_FAILURE ? rc : 0;
    ProgramCopy program;
    if (program.prepare(hInstall, self) != 0) return ERROR_INSTALL_FAILURE;
    // `command` names the run in reports; `line` is the run, with the folder quoted so
    // that the program reads it back as it is.
    char line[InstallProcess::kCommandCapacity] = {};
    if (!joinCommand(command, sizeof(command),
                     {runtimeDir, kProgram, " /commontoolinstall -DINSTALLDIR=\"", installDir, "\""}) ||
        !quotedCommand(line, program.folder(), " /commontoolinstall -DINSTALLDIR=") ||
        !appendQuoted(line, sizeof(line), installDir)) {
        report(self, URE_SHOW_ERROR, 30, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return 0;
    }
    uint32_t exitCode = 0;
    uint32_t result = runCommand(runner, line, &exitCode, programTimeLimit(hInstall));
    if (result == kTimedOut) return ERROR_INSTALL_FAILURE;
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
    rc = checkRuntimeDirectory(self, runtimeDir);
    if (rc != 0) return rc == ERROR_INSTALL_FAILURE ? rc : 0;
    ProgramCopy program;
    if (program.prepare(hInstall, self) != 0) return ERROR_INSTALL_FAILURE;
    char line[InstallProcess::kCommandCapacity] = {};
    if (!joinCommand(command, sizeof(command), {runtimeDir, kProgram, " /commontooluninstall"}) ||
        !quotedCommand(line, program.folder(), " /commontooluninstall")) {
        report(self, URE_LOG_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return 0;
    }
    uint32_t exitCode = 0;
    const uint32_t result = runCommand(runner, line, &exitCode, programTimeLimit(hInstall));
    if (result == kTimedOut) return ERROR_INSTALL_FAILURE;
    if (result != 0) {
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

// 9 when the program answered 9 (the provider is installed), 7102 when it ran past the
// time limit, else 0.
uint32_t checkProvider(MSIHANDLE hInstall, InstallProcess& runner, const char* line) {
    const char* const self = "DetectDotNetDataProviderInstalledCA";
    uint32_t exitCode = 0;
    const uint32_t result = runCommand(runner, line, &exitCode, programTimeLimit(hInstall));
    if (result == kTimedOut) return kTimedOut;
    if (result != 0) {
        runner.traceOutput(self, 1);
        return 0;
    }
    if (exitCode == 9) return 9;
    if (exitCode != 10) runner.traceOutput(self, 1);
    return 0;
}

// The runtime folder's program, held (sharing reading only) until it has run, with the
// folder and the assembly folders it loads from. Run with the installing user's own rights
// they are only held: that user could mislead no check but their own. Elevated, each must
// be changeable by the trusted alone, as the extraction made them.
struct ProgramHold {
    HeldPath folder, program;
    HeldPath assemblies[std::size(ProgramCopy::kAssemblyFolders)];
};

// False once a refusal is reported (nothing may run); true with the program not held when
// it is not there (the provider is then not confirmed).
bool holdProgram(const char* self, const char* runtimeDir, ProgramHold& hold) {
    const HeldPath* refused = &hold.folder;
    Gate gate = hold.folder.hold(runtimeDir, Held::Folder, 1);
    if (gate == Gate::Accepted) {
        refused = &hold.program;
        gate = hold.folder.holdChild(kProgram + 1, Held::Program, true, hold.program);
    }
    // An assembly folder not there leaves the program to the system's assemblies.
    for (size_t i = 0; gate == Gate::Accepted && i < std::size(hold.assemblies); ++i) {
        refused = &hold.assemblies[i];
        const Gate assembly =
            hold.folder.holdChild(ProgramCopy::kAssemblyFolders[i], Held::Folder, true, hold.assemblies[i]);
        if (assembly != Gate::Missing) gate = assembly;
    }
    if (gate == Gate::Accepted || gate == Gate::Missing) return true;
    hold.program.release();
    report(self, URE_SHOW_ERROR, 85, ERROR_INSTALL_FAILURE, ureRefusalMessage(gate), refused->refused());
    return false;
}

UINT detectProvider(MSIHANDLE hInstall, InstallProcess& runner) {
    const char* const self = "DetectDotNetDataProviderInstalledCA";
    char runtimeDir[kPathCapacity] = {};
    char command[kPathCapacity] = {};
    char productName[kNameCapacity] = {};
    char providerMessage[kNameCapacity] = {};
    ProgramHold program;
    UINT rc = readRuntimeDirectory(hInstall, runtimeDir);
    if (rc != ERROR_SUCCESS) {
        report(self, URE_LOG_ERROR, 10, rc, 5598, "CURRENT_PROCESS_DIRECTORY");
        return rc;
    }
    char line[InstallProcess::kCommandCapacity] = {};
    rc = checkRuntimeDirectory(self, runtimeDir);
    if (rc == ERROR_INSTALL_FAILURE) return rc;
    if (rc != 0) {
        // Reported; the check cannot run, so the provider is not confirmed.
    } else if (!joinCommand(command, sizeof(command), {runtimeDir, kProgram, " /checkprovider"}) ||
               !quotedCommand(line, runtimeDir, " /checkprovider")) {
        // The check cannot run, so the provider is not confirmed.
        report(self, URE_LOG_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
    } else if (!holdProgram(self, runtimeDir, program)) {
        return ERROR_INSTALL_FAILURE;  // reported; nothing that could have been changed runs
    } else if (program.program.held()) {
        const uint32_t answer = checkProvider(hInstall, runner, line);
        if (answer == 9) return 0;
        if (answer == kTimedOut) return ERROR_INSTALL_FAILURE;
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

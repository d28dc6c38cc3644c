// RegisterWOLTMachineCfgCA and UnregisterWOLTMachineCfgCA: register or unregister the
// product's tools folder with the machine configuration through INSTALLDIR\bin\macConfigChange.exe.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/message_strings.h"
#include "platform/scoped_handles.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "trust/held_path.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kPathCapacity = 261;
const int kRegister = 1;
const int kUnregister = 2;
const char* const kProgramName = "\\bin\\macConfigChange.exe";

void report(uint32_t flags, int probe, uint32_t rc, uint32_t message, const char* first,
            const char* second = nullptr) {
    MsgTokenHolder tokens(first);
    if (second) tokens.addString(second);
    ureReport(flags, "setupWOLTMachineCfg", probe, static_cast<int32_t>(rc), message, &tokens, 0, true);
}

}  // namespace

UINT setupWOLTMachineCfg(MSIHANDLE hInstall, int mode) {
    char toolsFolder[kPathCapacity] = {};
    char program[kPathCapacity] = {};
    char command[kPathCapacity] = {};
    InstallProcess runner;
    DWORD capacity = kPathCapacity;
    UINT rc = iMsiGetActionProperty(hInstall, "INSTALLDIR", toolsFolder, &capacity);
    if (rc == kNotInActionData) {
        report(URE_SHOW_ERROR, 15, ERROR_INSTALL_FAILURE, 7115, "INSTALLDIR");
        return ERROR_INSTALL_FAILURE;
    }
    if (rc != ERROR_SUCCESS) {
        report(URE_LOG_ERROR, 10, rc, 5598, "INSTALLDIR");
        return rc;
    }
    if (std::strchr(toolsFolder, '"')) {
        report(URE_LOG_ERROR, 50, 0, 7103, "INSTALLDIR", toolsFolder);
        return ERROR_INSTALL_FAILURE;
    }
    char installDir[kPathCapacity] = {};
    fa9::copyText(installDir, sizeof(installDir), toolsFolder);
    const size_t n = std::strlen(toolsFolder);
    if (n > 0 && toolsFolder[n - 1] == '\\') toolsFolder[n - 1] = '\0';
    // Only a full path may lead the program path: an empty or relative one would run
    // whatever the current folder holds, a long one could not be read back whole.
    if (!isProgramFolder(toolsFolder, std::strlen(kProgramName))) {
        report(URE_LOG_ERROR, 60, 0, 7104, "INSTALLDIR", installDir);
        return ERROR_INSTALL_FAILURE;
    }
    bool fits = joinCommand(program, sizeof(program), {toolsFolder, kProgramName});
    fits = fa9::appendText(toolsFolder, sizeof(toolsFolder), "\\bin") && fits;
    // Run as SYSTEM (or elevated) the program must be one that no one else could have
    // swapped: it, bin and INSTALLDIR changeable by the trusted alone, every folder above
    // held so none is renamed away for a link, and it is held, sharing reading only, until
    // it has run.
    HeldPath held;
    const Gate gate = fits ? held.hold(program, Held::Program, 3) : Gate::Missing;
    if (gate == Gate::Missing) {
        report(URE_SHOW_ERROR, 40, 0, 5054, program);
        return ERROR_INSTALL_FAILURE;
    }
    if (gate != Gate::Accepted) {
        report(URE_SHOW_ERROR, 70, ERROR_INSTALL_FAILURE, ureRefusalMessage(gate), held.refused());
        return ERROR_INSTALL_FAILURE;
    }
    // `command` names the run in reports; `line` is the run, with the tools folder
    // quoted so that the program reads it back as it is.
    char line[InstallProcess::kCommandCapacity] = {};
    if (mode == kRegister) {
        fits = joinCommand(command, sizeof(command), {program, " -toolspath \"", toolsFolder, "\""}) &&
               joinCommand(line, sizeof(line), {"\"", program, "\" -toolspath "}) &&
               appendQuoted(line, sizeof(line), toolsFolder);
    } else {
        fits = joinCommand(command, sizeof(command), {program, " -unregister"}) &&
               joinCommand(line, sizeof(line), {"\"", program, "\" -unregister"});
    }
    if (!fits) {
        report(URE_SHOW_ERROR, 20, ERROR_FILENAME_EXCED_RANGE, 5030, command);
        return ERROR_INSTALL_FAILURE;
    }
    uint32_t exitCode = 0;
    const uint32_t result = runCommand(runner, line, &exitCode, programTimeLimit(hInstall));
    if (result == 7102) return ERROR_INSTALL_FAILURE;  // reported by the runner
    if (result != 0) {
        report(URE_SHOW_ERROR, 20, result, 5030, command);
        return ERROR_INSTALL_FAILURE;
    }
    if (exitCode == 0) return 0;
    char code[16] = {};
    fa9::formatText(code, sizeof(code), "%u", exitCode);
    report(URE_SHOW_ERROR, 30, exitCode, 6031, program, code);
    runner.traceOutput("setupWOLTMachineCfg", 1);
    return ERROR_INSTALL_FAILURE;
}

extern "C" UINT __stdcall RegisterWOLTMachineCfgCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        return setupWOLTMachineCfg(hInstall, kRegister);
    });
}

extern "C" UINT __stdcall UnregisterWOLTMachineCfgCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        return setupWOLTMachineCfg(hInstall, kUnregister);
    });
}

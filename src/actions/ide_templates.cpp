// SetupWOLTTemplateCA: lets the installed IDEs pick up the add-ins' templates
// ("devenv.exe /setup" for Visual Studio 2005 and 2008) and, when the whole product is
// removed, refresh the 2008 toolbox controls. Only a folder holding a double quote or a
// run past the time limit stops the installation.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "session/property_access.h"
#include "trust/held_path.h"

#include <cstring>

namespace {

const DWORD kBufferCapacity = 261;
const char* const kProgram = "\\devenv.exe";
const char* const kSetup = " /setup";
const char* const kRefreshControls = " /Command Tools.InstallCommunityControls";
const uint32_t kTimedOut = 7102;

// An IDE folder, which decides what runs, comes from the action's data alone in the script.
UINT readProperty(MSIHANDLE hInstall, const char* name, char* buffer, bool folder = true) {
    DWORD capacity = kBufferCapacity;
    UINT rc = folder ? iMsiGetActionProperty(hInstall, name, buffer, &capacity)
                     : iMsiGetProperty(hInstall, name, buffer, &capacity);
    if (rc != kNotInActionData) iLogCallFailure(hInstall, "iMsiGetProperty", name, static_cast<int>(rc));
    return rc;
}

// In the script a folder missing from the action's data is not looked for elsewhere (7115).
void reportUnreadable(const char* functionName, int probe, UINT rc, const char* property) {
    MsgTokenHolder tokens(property);
    ureReport(URE_LOG_ERROR, functionName, probe, static_cast<int32_t>(rc), rc == kNotInActionData ? 7115 : 5598,
              &tokens, 0, true);
}

void reportFolder(const char* functionName, uint32_t flags, int probe, uint32_t message, const char* property,
                  const char* value) {
    MsgTokenHolder tokens(property);
    if (value) tokens.addString(value);
    ureReport(flags, functionName, probe, 0, message, &tokens, 0, true);
}

// One IDE run: the exit code is not looked at; only a run that could not be made or
// waited for leaves its output in the log. An unset folder skips the run (7105), one
// that is no full path is reported (7104); both let the action go on. A folder with a
// double quote (7103) or a program ended at the time limit stops it: false.
bool runIde(MSIHANDLE hInstall, InstallProcess& runner, const char* property, const char* directory,
            const char* arguments, const char* traceName) {
    if (!directory[0] || std::strcmp(directory, kPropertyNotSet) == 0) {
        reportFolder(traceName, URE_LOG_INFO, 35, 7105, property, nullptr);
        return true;
    }
    if (std::strchr(directory, '"')) {
        reportFolder(traceName, URE_LOG_ERROR, 45, 7103, property, directory);
        return false;
    }
    if (!isProgramFolder(directory, std::strlen(kProgram))) {
        reportFolder(traceName, URE_LOG_ERROR, 55, 7104, property, directory);
        return true;
    }
    char command[kBufferCapacity] = {};
    // A directory too long for the command buffer cannot be run; say so rather than
    // run a cut path (the action still goes on and succeeds).
    if (!joinCommand(command, sizeof(command), {directory, kProgram, arguments})) {
        MsgTokenHolder tokens(command);
        ureReport(URE_LOG_ERROR, traceName, 25, ERROR_FILENAME_EXCED_RANGE, 5030, &tokens, 0, true);
        return true;
    }
    // Run as SYSTEM, the IDE's program must be one that no one else could have swapped or
    // put a DLL beside: it and its folder changeable by the trusted alone, held until it
    // has run. Refused, this IDE's run is skipped and the other's goes on.
    char program[kBufferCapacity] = {};
    joinCommand(program, sizeof(program), {directory, kProgram});
    HeldPath held;
    const Gate gate = held.hold(program, Held::Program, 2);
    if (gate == Gate::Missing) {  // as a run that could not be made
        runner.traceOutput(traceName, 1);
        return true;
    }
    if (gate != Gate::Accepted) {
        MsgTokenHolder tokens(held.refused());
        ureReport(URE_LOG_ERROR, traceName, 65, ERROR_INSTALL_FAILURE, ureRefusalMessage(gate), &tokens, 0, true);
        return true;
    }
    // The program path in quotes: the runner then runs it as it is.
    char line[InstallProcess::kCommandCapacity] = {};
    joinCommand(line, sizeof(line), {"\"", program, "\"", arguments});
    uint32_t exitCode = 0;
    const uint32_t result = runCommand(runner, line, &exitCode, programTimeLimit(hInstall));
    if (result == kTimedOut) return false;
    if (result != 0) runner.traceOutput(traceName, 1);
    return true;
}

UINT setupTemplates(MSIHANDLE hInstall, InstallProcess& runner) {
    char vs80[kBufferCapacity] = {};
    char vs90[kBufferCapacity] = {};
    char removal[kBufferCapacity] = {};
    UINT rc = readProperty(hInstall, "VS80_INSTALLDIR", vs80);
    if (rc != ERROR_SUCCESS)
        reportUnreadable("SetupWOLTTemplateCA", 10, rc, "VS80_INSTALLDIR");
    else if (!runIde(hInstall, runner, "VS80_INSTALLDIR", vs80, kSetup, "SetupWOLTTemplateCA"))
        return ERROR_INSTALL_FAILURE;

    rc = readProperty(hInstall, "VS90_INSTALLDIR", vs90);
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("SetupWOLTTemplateCA -- for vsnet2008", 20, rc, "VS90_INSTALLDIR");
        return ERROR_SUCCESS;
    }
    if (!runIde(hInstall, runner, "VS90_INSTALLDIR", vs90, kSetup, "SetupWOLTTemplateCA -- for VSNET 2008"))
        return ERROR_INSTALL_FAILURE;

    rc = readProperty(hInstall, "REMOVE", removal, false);
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("SetupWOLTTemplateCA", 15, rc, "REMOVE");
        return ERROR_SUCCESS;
    }
    if (!fa9::equalsNoCase(removal, "ALL")) return ERROR_SUCCESS;
    if (!runIde(hInstall, runner, "VS90_INSTALLDIR", vs90, kRefreshControls,
                "SetupWOLTTemplateCA -- for VSNET 2008 in uninstallation"))
        return ERROR_INSTALL_FAILURE;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall SetupWOLTTemplateCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        InstallProcess runner;
        return setupTemplates(hInstall, runner);
    });
}

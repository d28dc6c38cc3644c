// SetupWOLTTemplateCA: lets the installed IDEs pick up the add-ins' templates
// ("devenv.exe /setup" for Visual Studio 2005 and 2008) and, when the whole product is
// removed, refresh the 2008 toolbox controls. Nothing here stops the installation.
#include "actions/exports.h"
#include "frame/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"
#include "session/property_access.h"

namespace {

const DWORD kBufferCapacity = 261;
const char* const kSetup = "\\devenv.exe /setup";
const char* const kRefreshControls = "\\devenv.exe /Command Tools.InstallCommunityControls";

UINT readProperty(MSIHANDLE hInstall, const char* name, char* buffer) {
    DWORD capacity = kBufferCapacity;
    UINT rc = iMsiGetProperty(hInstall, name, buffer, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", name, static_cast<int>(rc));
    return rc;
}

void reportUnreadable(const char* functionName, int probe, UINT rc, const char* property) {
    MsgTokenHolder tokens(property);
    ureReport(URE_LOG_ERROR, functionName, probe, static_cast<int32_t>(rc), 5598, &tokens, 0, true);
}

// One IDE run: the exit code is not looked at; only a run that could not be made or
// waited for leaves its output in the log.
void runIde(InstallProcess& runner, const char* directory, const char* arguments, const char* traceName) {
    char command[kBufferCapacity] = {};
    // A directory too long for the command buffer cannot be run; say so rather than
    // run a cut path (the action still goes on and succeeds).
    if (!joinCommand(command, sizeof(command), {directory, arguments})) {
        MsgTokenHolder tokens(command);
        ureReport(URE_LOG_ERROR, traceName, 25, ERROR_FILENAME_EXCED_RANGE, 5030, &tokens, 0, true);
        return;
    }
    uint32_t exitCode = 0;
    if (runCommand(runner, command, &exitCode) != 0) runner.traceOutput(traceName, 1);
}

void setupTemplates(MSIHANDLE hInstall, InstallProcess& runner) {
    char vs80[kBufferCapacity] = {};
    char vs90[kBufferCapacity] = {};
    char removal[kBufferCapacity] = {};
    UINT rc = readProperty(hInstall, "VS80_INSTALLDIR", vs80);
    if (rc != ERROR_SUCCESS)
        reportUnreadable("SetupWOLTTemplateCA", 10, rc, "VS80_INSTALLDIR");
    else
        runIde(runner, vs80, kSetup, "SetupWOLTTemplateCA");

    rc = readProperty(hInstall, "VS90_INSTALLDIR", vs90);
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("SetupWOLTTemplateCA -- for vsnet2008", 20, rc, "VS90_INSTALLDIR");
        return;
    }
    runIde(runner, vs90, kSetup, "SetupWOLTTemplateCA -- for VSNET 2008");

    rc = readProperty(hInstall, "REMOVE", removal);
    if (rc != ERROR_SUCCESS) {
        reportUnreadable("SetupWOLTTemplateCA", 15, rc, "REMOVE");
        return;
    }
    if (!fa9::equalsNoCase(removal, "ALL")) return;
    runIde(runner, vs90, kRefreshControls, "SetupWOLTTemplateCA -- for VSNET 2008 in uninstallation");
}

}  // namespace

extern "C" UINT __stdcall SetupWOLTTemplateCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        InstallProcess runner;
        setupTemplates(hInstall, runner);
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

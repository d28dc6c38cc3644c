// CheckWOLTPrereqCA: stops the installation when the user may not install for the
// machine or when neither Visual Studio 2005 nor 2008 is present.
#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kPropertyCapacity = 1024;

bool conditionTrue(MSIHANDLE hInstall, const char* condition) {
    return MsiEvaluateConditionA(hInstall, condition) == MSICONDITION_TRUE;
}

UINT readProductName(MSIHANDLE hInstall, char* buffer) {
    DWORD capacity = kPropertyCapacity;
    UINT rc = iMsiGetProperty(hInstall, "ProductName", buffer, &capacity);
    iLogCallFailure(hInstall, "iMsiGetProperty", "ProductName", static_cast<int>(rc));
    return rc;
}

void report(uint32_t flags, int probe, UINT rc, uint32_t message, const char* first, const char* second) {
    MsgTokenHolder tokens(first);
    if (second) tokens.addString(second);
    ureReport(flags, "CheckWOLTPrereqCA", probe, static_cast<int32_t>(rc), message, &tokens, 0, true);
}

UINT checkPrerequisites(MSIHANDLE hInstall, char* first, char* second) {
    if (conditionTrue(hInstall, "(Not AdminUser)")) {
        if (conditionTrue(hInstall, "Privileged")) {
            // A privileged installation by a standard user installs for the machine.
            iMsiSetProperty(hInstall, "ALLUSERS", "1");
        } else {
            UINT rc = readProductName(hInstall, first);
            report(URE_SHOW_ERROR, 5, rc, 5467, first, "Administrators");
            return ERROR_INSTALL_FAILURE;
        }
    }
    DWORD capacity = kPropertyCapacity;
    UINT rc = iMsiGetProperty(hInstall, "p_vsnet2005Installed", first, &capacity);
    if (rc != ERROR_SUCCESS) report(URE_LOG_ERROR, 10, rc, 5598, "p_vsnet2005Installed", nullptr);
    capacity = kPropertyCapacity;
    UINT rc2008 = iMsiGetProperty(hInstall, "p_vsnet2008Installed", second, &capacity);
    if (rc2008 != ERROR_SUCCESS) report(URE_LOG_ERROR, 15, rc2008, 5598, "p_vsnet2008Installed", nullptr);
    if (std::strcmp(first, "YES") == 0 || std::strcmp(second, "YES") == 0) return rc2008;

    std::memset(first, 0, kPropertyCapacity);
    rc = readProductName(hInstall, first);
    report(URE_SHOW_ERROR, 20, rc, 3145, first, first);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" UINT __stdcall CheckWOLTPrereqCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        char first[kPropertyCapacity] = {};
        char second[kPropertyCapacity] = {};
        CustomActionContext context(hInstall);
        return checkPrerequisites(hInstall, first, second);
    });
}

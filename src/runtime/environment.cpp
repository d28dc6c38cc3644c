// The PATH of the custom-action process: the runtime folder first, then the installed
// path of the package's tools component, then whatever PATH held. Programs and
// libraries the later steps start or load by bare name are found there first, and child
// processes inherit the change.
#include "runtime/environment.h"

#include "platform/bounded.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <string>
#include <vector>

namespace {

const DWORD kProductCodeCapacity = 256;
const DWORD kComponentPathCapacity = 261;
const DWORD kRuntimeDirCapacity = 260;
// The largest value an environment variable can hold, terminator included.
const DWORD kPathVariableCapacity = 32767;

const char* const kEnvironmentFunction = "liteInitializeEnvironment";

void report(uint32_t flags, int probe, int32_t rc, uint32_t message, const MsgTokenHolder* tokens) {
    ureReport(flags, kEnvironmentFunction, probe, rc, message, tokens, 0, true);
}

}  // namespace

UINT liteGetComponentPath(MSIHANDLE hInstall, const char* componentCode, char* path, DWORD* capacity) {
    char productCode[kProductCodeCapacity];
    productCode[0] = '\0';
    DWORD productCapacity = kProductCodeCapacity;
    UINT rc = iMsiGetProperty(hInstall, "ProductCode", productCode, &productCapacity);
    if (rc != ERROR_SUCCESS) {
        MsgTokenHolder tokens("ProductCode");
        ureReport(URE_LOG_ERROR, "liteGetComponentPath", 10, static_cast<int32_t>(rc), 5598, &tokens, 0, true);
        return rc;
    }
    switch (MsiGetComponentPathA(productCode, componentCode, path, capacity)) {
    case INSTALLSTATE_NOTUSED:
    case INSTALLSTATE_INVALIDARG:
    case INSTALLSTATE_ABSENT:
        return 5011;
    default:
        // Installed locally or to run from source, and also the states that carry no
        // verdict (unknown, more data): the caller works with what the buffer holds.
        return 0;
    }
}

UINT liteInitializeEnvironment(MSIHANDLE hInstall) {
    char componentPath[kComponentPathCapacity] = {};
    char runtimeDir[kRuntimeDirCapacity] = {};
    std::vector<char> oldPath(kPathVariableCapacity, '\0');
    char componentCode[64];
    fa9::formatText(componentCode, sizeof componentCode, "{FA9%s%s000-9ABA-4C3A-0731-AAAAAA4FE25C}", "9", "7");

    DWORD capacity = kComponentPathCapacity;
    UINT rc = liteGetComponentPath(hInstall, componentCode, componentPath, &capacity);
    if (rc != 0) {
        MsgTokenHolder tokens("ComponentPath");
        report(URE_LOG_ERROR, 10, static_cast<int32_t>(rc), 5598, &tokens);
        return ERROR_INSTALL_FAILURE;
    }

    // 0 means no PATH at all (or an empty one, which Windows does not tell apart here).
    if (GetEnvironmentVariableA("PATH", oldPath.data(), kPathVariableCapacity) == 0) {
        DWORD error = GetLastError();
        MsgTokenHolder tokens;
        tokens.addUnsigned(error);
        report(URE_SHOW_ERROR, 60, static_cast<int32_t>(error), 5011, &tokens);
        return ERROR_INSTALL_FAILURE;
    }

    capacity = kRuntimeDirCapacity;
    rc = iMsiGetProperty(hInstall, "CURRENT_PROCESS_DIRECTORY", runtimeDir, &capacity);
    if (rc != ERROR_SUCCESS) {
        report(URE_LOG_ERROR, 20, static_cast<int32_t>(rc), 5066, nullptr);
        return ERROR_INSTALL_FAILURE;
    }

    std::string componentPart = std::string(componentPath) + ";" + oldPath.data();
    std::string newPath = std::string(runtimeDir) + ";" + componentPart;
    if (!SetEnvironmentVariableA("PATH", newPath.c_str())) {
        DWORD error = GetLastError();
        MsgTokenHolder tokens("PATH");
        tokens.addString(componentPart.c_str());
        report(URE_SHOW_ERROR, 40, static_cast<int32_t>(error), 5066, &tokens);
        return ERROR_INSTALL_FAILURE;
    }
    return 0;
}

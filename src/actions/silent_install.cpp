// SetSilentInstallPropertiesCA: carries the response file's choices into the session
// before the installation directory is fixed. Prepares PATH, names the response file to
// the engine and, when the file gives FILE, makes it the target of INSTALLDIR.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "response/response_engine.h"
#include "response/response_generation.h"
#include "runtime/environment.h"

#include <cstring>

namespace {

// FILE holds up to 260 characters; one more for the backslash a target path ends in.
const int kFileValueSize = 261;
const size_t kTargetPathCapacity = kFileValueSize + 1;

UINT setSilentInstallProperties(MSIHANDLE hInstall) {
    UINT rc = liteInitializeEnvironment(hInstall);
    if (rc != 0) return rc;

    rc = liteInitURERspFile(hInstall);
    if (rc != 0) {
        ureReport(URE_SHOW_ERROR, "SetSilentInstallPropertiesCA", 15, static_cast<int32_t>(rc), 5012, nullptr, 0, true);
        return rc;
    }

    // Without FILE the package's own INSTALLDIR stands.
    char path[kTargetPathCapacity] = {};
    if (ureReadRspFile("FILE", RSP_TYPE_TEXT, RSP_MODE_FIRST, nullptr, path, kFileValueSize, nullptr, nullptr) != 0 ||
        !path[0])
        return 0;
    if (path[std::strlen(path) - 1] != '\\') fa9::appendText(path, sizeof path, "\\");

    rc = MsiSetTargetPathA(hInstall, "INSTALLDIR", path);
    if (rc != ERROR_SUCCESS) {
        MsgTokenHolder code;
        code.addUnsigned(rc);
        ureReport(URE_LOG_ERROR, "SetSilentInstallProperties", 40, static_cast<int32_t>(rc), 5037, &code, 0, true);
        MsgTokenHolder tokens(path);
        tokens.addString("FILE");
        ureReport(URE_SHOW_ERROR, "SetSilentInstallProperties", 50, static_cast<int32_t>(rc), 5015, &tokens, 0, true);
        return ERROR_INSTALL_FAILURE;
    }
    return 0;
}

}  // namespace

extern "C" UINT __stdcall SetSilentInstallPropertiesCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        return setSilentInstallProperties(hInstall);
    });
}

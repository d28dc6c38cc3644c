// PreProcessInstallCA and PostProcessInstallCA: the deferred property store is filled
// before the installation script runs and removed after the installation.
#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_store.h"

extern "C" UINT __stdcall PreProcessInstallCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        const UINT rc = iSavePropertiesForDeferred(hInstall);
        if (rc == 0) return static_cast<UINT>(ERROR_SUCCESS);
        MsgTokenHolder tokens;
        tokens.addInt(static_cast<int>(rc));
        ureReport(URE_SHOW_ERROR, "PreProcessInstallCA", 20, static_cast<int32_t>(rc), 2006, &tokens, 0, true);
        return static_cast<UINT>(ERROR_INSTALL_FAILURE);
    });
}

// No context: the removal of the store reports nothing and never fails.
extern "C" UINT __stdcall PostProcessInstallCA(MSIHANDLE hInstall) {
    iRunGuarded([&] {
        iDeletePropertyStore(hInstall);
        return static_cast<UINT>(ERROR_SUCCESS);
    });
    return ERROR_SUCCESS;
}

// CopyVC80AssembliesCA: private copies of the VC80 runtime assemblies for the installed
// product's programs, gone again after the next restart. Stops the installation only
// when the package's own files cannot be had (reported).
#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "runtime/assembly_copy.h"

extern "C" UINT __stdcall CopyVC80AssembliesCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        const int rc = copyVC80Assemblies(hInstall);
        // Without the package's own files nothing is copied, and the installation stops.
        if (rc == ERROR_INSTALL_FAILURE) return static_cast<UINT>(ERROR_INSTALL_FAILURE);
        if (rc != 0) iReportCustomActionFailure("CopyVC80AssembliesCA", 10, static_cast<UINT>(rc));
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

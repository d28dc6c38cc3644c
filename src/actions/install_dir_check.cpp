// CheckWOLTInstallDirCA: refuses an INSTALLDIR that is the directory of an installed
// copy of the database product. The package's dialogs read p_WOLT_installdir_conflict;
// without the full user interface a conflict ends the installation.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "registry/install_copy.h"
#include "session/property_access.h"

#include <cstring>

namespace {

const DWORD kDirCapacity = 261;
const DWORD kCompareCapacity = 260;

// The full path of `path` in `out` with a closing quote, or else one trailing
// backslash, removed; empty when the path cannot be made full. As the runtime's
// full-path routine does, an empty path stands for the current directory. A path stored
// between double quotes names the folder inside them: Windows would take the opening
// quote for part of a relative name.
void normalizedFullPath(const char* path, char* out) {
    out[0] = '\0';
    char unquoted[kCompareCapacity];
    const size_t length = std::strlen(path);
    if (length >= 2 && path[0] == '"' && path[length - 1] == '"') {
        if (length - 2 >= sizeof unquoted) return;
        std::memcpy(unquoted, path + 1, length - 2);
        unquoted[length - 2] = '\0';
        path = unquoted;
    }
    DWORD n = *path ? GetFullPathNameA(path, kCompareCapacity, out, nullptr)
                    : GetCurrentDirectoryA(kCompareCapacity, out);
    if (n == 0 || n >= kCompareCapacity) {
        out[0] = '\0';
        return;
    }
    size_t len = std::strlen(out);
    if (len && out[len - 1] == '"') out[--len] = '\0';
    if (len && out[len - 1] == '\\') out[--len] = '\0';
}

// Paths that could not be made full (empty here) name no folder, so they match nothing.
bool sameDirectory(const char* a, const char* b) {
    if (!a[0] || !b[0]) return false;
    for (DWORD i = 0; i < kCompareCapacity; ++i) {
        char ca = a[i], cb = b[i];
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (!ca) return true;
    }
    return true;
}

// Whether `chosen` is the directory of an installed copy; `error` becomes 1603 when the
// copies cannot be listed or one of them cannot be read.
bool conflictsWithInstalledCopy(const char* chosen, UINT* error) {
    *error = 0;
    InstallCopyList copies(false, false);
    if (copies.loadError()) {
        *error = ERROR_INSTALL_FAILURE;
        return false;
    }
    bool conflict = false;
    copies.resetCursor();
    while (InstallCopy* copy = copies.next()) {
        if (copy->isInvalid()) {
            *error = ERROR_INSTALL_FAILURE;
            return conflict;
        }
        char chosenFull[kCompareCapacity];
        normalizedFullPath(chosen, chosenFull);
        char installPath[kCompareCapacity] = "";
        if (copy->getInstallPath(installPath, sizeof installPath) != 0) installPath[0] = '\0';
        char copyFull[kCompareCapacity];
        normalizedFullPath(installPath, copyFull);
        if (sameDirectory(chosenFull, copyFull)) conflict = true;
    }
    return conflict;
}

UINT checkInstallDir(MSIHANDLE hInstall, char* dir) {
    DWORD capacity = kDirCapacity;
    UINT rc = iMsiGetProperty(hInstall, "INSTALLDIR", dir, &capacity);
    if (rc != ERROR_SUCCESS) {
        MsgTokenHolder tokens("INSTALLDIR");
        ureReport(URE_LOG_ERROR, "CheckWOLTInstallDirCA", 20, static_cast<int32_t>(rc), 5598, &tokens, 0, true);
        return rc;
    }
    size_t len = std::strlen(dir);
    if (len && dir[len - 1] == '\\') dir[len - 1] = '\0';

    UINT error = 0;
    bool conflict = conflictsWithInstalledCopy(dir, &error);
    if (error) {
        iLogMessage(hInstall, "ERROR: Unable to get FA9 install directories");
        return ERROR_INSTALL_FAILURE;
    }
    iMsiSetProperty(hInstall, "p_WOLT_installdir_conflict", conflict ? "Y" : "N");
    if (!conflict) return ERROR_SUCCESS;
    MsgTokenHolder tokens(dir);
    ureReport(URE_SHOW_ERROR, "CheckWOLTInstallDirCA", 10, 1, 3165, &tokens, 0, true);
    // With the full interface the package's dialogs let the user choose again.
    return iIsReducedUI(hInstall) ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall CheckWOLTInstallDirCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        char dir[kDirCapacity] = {};
        CustomActionContext context(hInstall);
        return checkInstallDir(hInstall, dir);
    });
}

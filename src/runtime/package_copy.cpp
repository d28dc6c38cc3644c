#include "runtime/package_copy.h"

#include "platform/bounded.h"
#include "runtime/held_path.h"
#include "runtime/write_access.h"
#include "session/action_data.h"

bool iOpenProductPackage(const std::string& path, const char* productCode, PackageFile& package) {
    // Opened first, then checked: the open file is pinned where it lies, it must lie at
    // the path itself (no junction on the way), and so the checks of that path are of it.
    std::string own;
    if (!path.empty() && productCode && productCode[0] && package.open(path.c_str()) == 0 &&
        iLiesAt(package.handle(), path.c_str()) && iOnlyTrustedCanWriteFileAndFolder(path.c_str()) &&
        package.readProperty("ProductCode", own) && own.size() == fa9::textLength(productCode) &&
        fa9::equalsNoCase(own.c_str(), productCode))
        return true;
    package.close();
    return false;
}

bool iOpenPackageCopy(MSIHANDLE hInstall, PackageFile& package, std::string& path) {
    path.clear();
    // The installer's own ProductCode, which it offers every script action: through
    // iMsiGetProperty the store would answer first, and the store is the user's to change.
    char session[64] = {};  // a GUID in braces has 38 characters
    DWORD capacity = sizeof session;
    return iGetActionValue(hInstall, "DATABASE", path) &&
           MsiGetPropertyA(hInstall, "ProductCode", session, &capacity) == ERROR_SUCCESS &&
           iOpenProductPackage(path, session, package);
}

#include "trust/package_copy.h"

#include "platform/bounded.h"

#include <cstring>

namespace {

// Whether the full path `file` names a file directly in <Windows>\Installer.
bool inInstallerFolder(const char* file) {
    char installer[MAX_PATH + 1];
    const UINT n = GetSystemWindowsDirectoryA(installer, sizeof installer);
    const char* cut = std::strrchr(file, '\\');
    if (n == 0 || n >= sizeof installer || !cut ||
        !fa9::appendText(installer, sizeof installer, installer[n - 1] == '\\' ? "Installer" : "\\Installer"))
        return false;
    const std::string folder(file, static_cast<size_t>(cut - file));
    return iSamePath(folder.c_str(), installer);
}

}  // namespace

bool iOpenProductPackage(const std::string& path, const char* productCode, HeldPath& held, PackageFile& package) {
    char full[MAX_PATH + 1];
    const DWORD n = path.empty() ? 0 : GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string own;
    if (n > 0 && n < sizeof full && productCode && productCode[0] && inInstallerFolder(full) &&
        held.hold(full, Held::Data, 2) == Gate::Accepted && package.openHeld(held.handle()) == 0 &&
        package.readProperty("ProductCode", own) && own.size() == fa9::textLength(productCode) &&
        fa9::equalsNoCase(own.c_str(), productCode))
        return true;
    package.close();
    held.release();
    return false;
}

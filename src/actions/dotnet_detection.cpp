// DetectDOTNETEnvCA: the .NET Framework releases and the Visual Studio 2003, 2005 and
// 2008 installations, published as installer properties for the package's conditions.
// Nothing found or missing here is fatal.
#include "actions/exports.h"
#include "platform/bounded.h"
#include "frame/custom_action_context.h"
#include "frame/guarded.h"
#include "frame/install_log.h"
#include "platform/scoped_handles.h"
#include "registry/fa9i_registry.h"
#include "session/property_access.h"
#include "session/property_store.h"

#include <cstring>

namespace {

const REGSAM kRead = 0x20019;  // KEY_READ
const DWORD kValueCapacity = 256;

const char* const kNetKey = "SOFTWARE\\Microsoft\\.NETFramework";
const char* const kPolicy11Key = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";
const char* const kPolicy20Key = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v2.0";
const char* const kVs71Key = "SOFTWARE\\Microsoft\\VisualStudio\\7.1";
const char* const kVs80Key = "SOFTWARE\\Microsoft\\VisualStudio\\8.0";
const char* const kVs80IdeKey = "SOFTWARE\\Microsoft\\VisualStudio\\8.0\\Setup\\VS";
const char* const kVs80VbKey = "SOFTWARE\\Microsoft\\VisualStudio\\8.0\\Setup\\VB";
const char* const kVs80CsKey = "SOFTWARE\\Microsoft\\VisualStudio\\8.0\\Setup\\VC#";
const char* const kVs90Key = "SOFTWARE\\Microsoft\\VisualStudio\\9.0";
const char* const kVs90IdeKey = "SOFTWARE\\Microsoft\\VisualStudio\\9.0\\Setup\\VS";

class Detection {
public:
    explicit Detection(MSIHANDLE hInstall) : h_(hInstall) {}

    // Each framework property is set once, to its final value: every set is a round trip
    // to the installer.
    UINT run() {
        if (!valuePresent(key_, kNetKey, "InstallRoot")) {
            set("p_DotNetFWInstalled", "NO");
            setUnchecked("p_DotNetFW11Installed", "NO");
            setUnchecked("p_DotNetFW20Installed", "NO");
            return 0;
        }
        set("p_DotNetFWInstalled", "YES");
        framework11();
        std::memset(value_, 0, sizeof value_);
        if (policyPresent(kPolicy20Key))
            framework20();
        else
            setUnchecked("p_DotNetFW20Installed", "NO");
        visualStudio2008();
        return 0;
    }

private:
    void framework11() {
        if (!policyPresent(kPolicy11Key)) {
            setUnchecked("p_DotNetFW11Installed", "NO");
            return;
        }
        set("p_DotNetFW11Installed", "YES");
        if (!writeStore("p_DotNetFW11Installed")) trace("TRACE_DATA--1: iSetRegValue Failed for p_DotNetFW11Installed");
        if (valuePresent(key_, kVs71Key, "InstallDir")) set("p_vsnet2003Installed", "YES");
    }

    void framework20() {
        set("p_DotNetFW20Installed", "YES");
        if (!writeStore("p_DotNetFW20Installed")) trace("TRACE_DATA--25: iSetRegValue Failed for p_DotNetFW20Installed");
        if (!valuePresent(key_, kVs80Key, "InstallDir")) {
            set("p_vsnet2005Installed", "NO");
            return;
        }
        readInto("InstallDir", "VS80_INSTALLDIR", 30, 35);

        std::memset(value_, 0, sizeof value_);
        if (valuePresent(key_, kVs80IdeKey, "EnvironmentDirectory")) {
            set("p_vsnet2005Installed", "YES");
            readInto("EnvironmentDirectory", "VS80_ENVDIR", 40, 45);
        }
        std::memset(value_, 0, sizeof value_);
        if (valuePresent(key_, kVs80VbKey, "ProductDir")) {
            set("VS80_VB_INSTALLED", "YES");
            readInto("ProductDir", "p_VS80_VBProdDir", 50, 60);
        }
        std::memset(value_, 0, sizeof value_);
        if (valuePresent(key_, kVs80CsKey, "ProductDir")) {
            set("VS80_VCSHARP_INSTALLED", "YES");
            readInto("ProductDir", "p_VS80_VCSHARPProdDir", 70, 80);
        }
    }

    void visualStudio2008() {
        std::memset(value_, 0, sizeof value_);
        // The store key is made here even when nothing is written to it.
        FA9iCopyNameRegistry key;
        iNoteCreatedStoreKeys(HKEY_CURRENT_USER);  // so that the store's removal takes them back
        key.create(HKEY_CURRENT_USER, kPropertyStoreKey, nullptr, KEY_ALL_ACCESS);
        if (!valuePresent(key, kVs90Key, "InstallDir")) return;
        readInto(key, "InstallDir", "VS90_INSTALLDIR", 90, 95);
        std::memset(value_, 0, sizeof value_);
        if (valuePresent(key, kVs90IdeKey, "EnvironmentDirectory")) {
            set("p_vsnet2008Installed", "YES");
            readInto(key, "EnvironmentDirectory", "VS90_ENVDIR", 100, 105);
        } else {
            set("p_vsnet2008Installed", "NO");
        }
    }

    bool valuePresent(FA9iCopyNameRegistry& key, const char* path, const char* name) {
        key.open(HKEY_LOCAL_MACHINE, path, nullptr, kRead);
        bool present = false;
        key.hasValue(name, &present);
        return present;
    }

    static bool policyPresent(const char* path) {
        unique_hkey key;
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, kRead, key.out()) == ERROR_SUCCESS;
    }

    bool writeStore(const char* name) {
        FA9iCopyNameRegistry store;
        iNoteCreatedStoreKeys(HKEY_CURRENT_USER);
        store.create(HKEY_CURRENT_USER, kPropertyStoreKey, nullptr, KEY_ALL_ACCESS);
        return store.setValue(name, reinterpret_cast<const BYTE*>("YES"), 4, REG_SZ) == 0;
    }

    void readInto(const char* valueName, const char* property, int dataProbe, int errorProbe) {
        readInto(key_, valueName, property, dataProbe, errorProbe);
    }

    // Publishes a directory value, tracing it; an unreadable one is traced with its code.
    void readInto(FA9iCopyNameRegistry& key, const char* valueName, const char* property, int dataProbe,
                  int errorProbe) {
        UINT rc = key.queryValue(valueName, value_, kValueCapacity);
        char line[1024];
        if (rc == 0) {
            set(property, value_);
            fa9::formatText(line, sizeof line, "TRACE_DATA--%d: %s = %s", dataProbe, property, value_);
        } else {
            fa9::formatText(line, sizeof line, "TRACE_ERROR--%d: rc = %d", errorProbe, static_cast<int>(rc));
        }
        trace(line);
    }

    void set(const char* property, const char* value) {
        UINT rc = iMsiSetProperty(h_, property, value);
        iLogCallFailure(h_, "iMsiSetProperty", property, static_cast<int>(rc));
    }
    void setUnchecked(const char* property, const char* value) { iMsiSetProperty(h_, property, value); }
    void trace(const char* line) { iLogMessage(h_, line); }

    MSIHANDLE h_;
    FA9iCopyNameRegistry key_;
    char value_[kValueCapacity] = {};
};

}  // namespace

extern "C" UINT __stdcall DetectDOTNETEnvCA(MSIHANDLE hInstall) {
    return iRunGuarded([&] {
        CustomActionContext context(hInstall);
        return Detection(hInstall).run();
    });
}

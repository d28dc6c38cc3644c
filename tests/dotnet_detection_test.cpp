// .NET Framework and Visual Studio detection on machines as they are found.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <cstring>
#include <functional>

using namespace fa9test;
using winsim::Hive;

namespace {

// The library is a 32-bit DLL: what it reads under HKLM\SOFTWARE lies in the 32-bit view.
const std::string kSoftware32 = "SOFTWARE\\WOW6432Node\\Microsoft\\";
const std::string kStore = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
const std::string kVs8 = "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\", kVs8Ide = kVs8 + "Common7\\IDE\\";
const std::string kVs9 = "C:\\Program Files (x86)\\Microsoft Visual Studio 9.0\\", kVs9Ide = kVs9 + "Common7\\IDE\\";
const std::string kTooLong = "C:\\" + std::string(260, 'd');

using Published = std::map<std::string, std::string>;
Published frameworks(const char* any, const char* v11, const char* v20) {
    return {{"p_DotNetFWInstalled", any}, {"p_DotNetFW11Installed", v11}, {"p_DotNetFW20Installed", v20}};
}
Published operator+(Published a, const Published& b) { return a.insert(b.begin(), b.end()), a; }

// The detection never fails; it publishes just these (its traces only say so again), and
// stores the frameworks it found in the store (YES with its terminator).
using Detection = SessionTest;

TEST_F(Detection, OnMachinesAsFound) {
    auto& reg = machine.registry();
    const auto published = [&] {
        Published out;
        for (const auto& [name, value] : session.properties())
            if (name.rfind("p_", 0) == 0 || name.rfind("VS", 0) == 0) out[name] = value;
        return out;
    };
    const auto set = [&](const std::string& key, const char* name, const std::string& value) {
        reg.setString(Hive::LocalMachine, kSoftware32 + key, name, value);
    };
    const auto framework = [&](bool v11, bool v20) {
        set(".NETFramework", "InstallRoot", "C:\\Windows\\Microsoft.NET\\Framework\\");
        if (v11) reg.createKey(Hive::LocalMachine, kSoftware32 + ".NETFramework\\policy\\v1.1");
        if (v20) reg.createKey(Hive::LocalMachine, kSoftware32 + ".NETFramework\\policy\\v2.0");
    };
    const auto vs2005 = [&] {
        set("VisualStudio\\8.0", "InstallDir", kVs8Ide);
        set("VisualStudio\\8.0\\Setup\\VS", "EnvironmentDirectory", kVs8Ide);
        set("VisualStudio\\8.0\\Setup\\VB", "ProductDir", kVs8 + "VB\\");
        set("VisualStudio\\8.0\\Setup\\VC#", "ProductDir", kVs8 + "VC#\\");
    };
    const auto vs2008 = [&](const std::string& dir, const std::string& ide) {
        set("VisualStudio\\9.0", "InstallDir", dir);
        if (!ide.empty()) set("VisualStudio\\9.0\\Setup\\VS", "EnvironmentDirectory", ide);
    };
    const Published vs2008Found = {
        {"p_vsnet2008Installed", "YES"}, {"VS90_INSTALLDIR", kVs9Ide}, {"VS90_ENVDIR", kVs9Ide}};
    const struct {
        const char* label;
        std::function<void()> arrange;
        Published published;
        const char* stored;  // the frameworks stored ("11 20"); null: no store key
    } rows[] = {
        // What 64-bit programs recorded is not this library's to read, nor a value whose
        // name differs in case. Without the 2.0 policy, 2005 is never looked at.
        {"no framework",
         [&] {
             reg.setString(Hive::LocalMachine, "SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot", "C:\\x\\");
             set(".NETFramework", "installroot", "C:\\x\\");
             reg.createKey(Hive::LocalMachine, kSoftware32 + ".NETFramework\\policy\\v2.0");
         },
         frameworks("NO", "NO", "NO"), nullptr},
        {"1.1 with Visual Studio 2003",
         [&] {
             framework(true, false); vs2005(); vs2008(kVs9Ide, kVs9Ide);
             set("VisualStudio\\7.1", "InstallDir", "C:\\VS2003\\");
         },
         frameworks("YES", "YES", "NO") + Published{{"p_vsnet2003Installed", "YES"}} + vs2008Found, "11"},
        {"2.0 with Visual Studio 2005 and 2008", [&] { framework(false, true); vs2005(); vs2008(kVs9Ide, kVs9Ide); },
         frameworks("YES", "NO", "YES") + vs2008Found +
             Published{{"p_vsnet2005Installed", "YES"}, {"VS80_INSTALLDIR", kVs8Ide}, {"VS80_ENVDIR", kVs8Ide},
                       {"VS80_VB_INSTALLED", "YES"}, {"p_VS80_VBProdDir", kVs8 + "VB\\"},
                       {"VS80_VCSHARP_INSTALLED", "YES"}, {"p_VS80_VCSHARPProdDir", kVs8 + "VC#\\"}},
         "20"},
        // 2008 is never "NO" without the 9.0 InstallDir, and the store key is made even when
        // only the 2008 branch runs.
        {"2008 without its IDE", [&] { framework(false, false); vs2008(kVs9, ""); },
         frameworks("YES", "NO", "NO") + Published{{"p_vsnet2008Installed", "NO"}, {"VS90_INSTALLDIR", kVs9}}, ""},
        {"values too long for the buffer",
         [&] {
             framework(false, true); vs2008(kTooLong, kTooLong);
             set("VisualStudio\\8.0", "InstallDir", kTooLong);
             set("VisualStudio\\8.0\\Setup\\VS", "EnvironmentDirectory", kTooLong);
         },
         frameworks("YES", "NO", "YES") + Published{{"p_vsnet2005Installed", "YES"}, {"p_vsnet2008Installed", "YES"}},
         "20"},
        {"a store that cannot be written",
         [&] {
             framework(true, true);
             reg.createKey(Hive::CurrentUser, kStore);
             reg.denyWrite(Hive::CurrentUser, kStore);
         },
         frameworks("YES", "YES", "YES") + Published{{"p_vsnet2005Installed", "NO"}}, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        reg.deleteKey(Hive::LocalMachine, kSoftware32);
        reg.deleteKey(Hive::CurrentUser, "SOFTWARE\\ZNK");
        for (const auto& [name, value] : published()) session.removeProperty(name);
        row.arrange();
        EXPECT_EQ(run(DetectDOTNETEnvCA), 0u);
        EXPECT_EQ(published(), row.published);
        EXPECT_EQ(reg.keyExists(Hive::CurrentUser, kStore), row.stored != nullptr);
        for (const char* version : {"11", "20"}) {
            const auto raw = reg.value(Hive::CurrentUser, kStore, std::string("p_DotNetFW") + version + "Installed");
            const bool stored = row.stored && std::strstr(row.stored, version);
            const std::vector<BYTE> yes = {'Y', 'E', 'S', 0}, none;
            EXPECT_EQ(raw ? raw->data : none, stored ? yes : none) << version;
        }
    }
}

}  // namespace

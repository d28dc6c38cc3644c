// .NET Framework and Visual Studio detection on machines as they are found.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>

using namespace fa9test;
using winsim::Hive;

namespace {

// The library is a 32-bit DLL: what it reads under HKLM\SOFTWARE lies in the 32-bit view.
const std::string kSoftware32 = "SOFTWARE\\WOW6432Node\\Microsoft\\";
const std::string kStore = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
const std::string kVs8 = "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\";
const std::string kVs8Ide = kVs8 + "Common7\\IDE\\";
const std::string kVs9 = "C:\\Program Files (x86)\\Microsoft Visual Studio 9.0\\";
const std::string kVs9Ide = kVs9 + "Common7\\IDE\\";

class DetectionTest : public SessionTest {
protected:
    void set(const std::string& key, const std::string& name, const std::string& value) {
        machine.registry().setString(Hive::LocalMachine, kSoftware32 + key, name, value);
    }
    void key(const std::string& key) { machine.registry().createKey(Hive::LocalMachine, kSoftware32 + key); }

    void framework(bool v11, bool v20) {
        set(".NETFramework", "InstallRoot", "C:\\Windows\\Microsoft.NET\\Framework\\");
        if (v11) key(".NETFramework\\policy\\v1.1");
        if (v20) key(".NETFramework\\policy\\v2.0");
    }
    void visualStudio2005() {
        set("VisualStudio\\8.0", "InstallDir", kVs8Ide);
        set("VisualStudio\\8.0\\Setup\\VS", "EnvironmentDirectory", kVs8Ide);
        set("VisualStudio\\8.0\\Setup\\VB", "ProductDir", kVs8 + "VB\\");
        set("VisualStudio\\8.0\\Setup\\VC#", "ProductDir", kVs8 + "VC#\\");
    }
    void visualStudio2008() {
        set("VisualStudio\\9.0", "InstallDir", kVs9Ide);
        set("VisualStudio\\9.0\\Setup\\VS", "EnvironmentDirectory", kVs9Ide);
    }

    std::map<std::string, std::string> published() {
        std::map<std::string, std::string> out;
        for (const auto& [name, value] : session.properties())
            if (name.rfind("p_", 0) == 0 || name.rfind("VS", 0) == 0) out[name] = value;
        return out;
    }
    std::optional<std::string> stored(const char* name) {
        return machine.registry().getString(Hive::CurrentUser, kStore, name);
    }
    // The detection never fails; it publishes and traces just these.
    void expectDetected(const std::map<std::string, std::string>& properties, const std::vector<std::string>& lines) {
        EXPECT_EQ(run(DetectDOTNETEnvCA), 0u);
        EXPECT_EQ(published(), properties);
        std::vector<std::string> expected;
        for (const auto& line : lines) expected.push_back(logged(line));
        EXPECT_EQ(log(), expected);
    }
};


TEST_F(DetectionTest, NoFramework) {
    // What 64-bit programs recorded is not this library's to read, nor a value whose name
    // differs in case.
    machine.registry().setString(Hive::LocalMachine, "SOFTWARE\\Microsoft\\.NETFramework", "InstallRoot", "C:\\x\\");
    set(".NETFramework", "installroot", "C:\\x\\");
    key(".NETFramework\\policy\\v2.0");
    expectDetected({{"p_DotNetFWInstalled", "NO"}, {"p_DotNetFW11Installed", "NO"}, {"p_DotNetFW20Installed", "NO"}},
                   {});
    EXPECT_FALSE(machine.registry().keyExists(Hive::CurrentUser, kStore));
}

TEST_F(DetectionTest, Framework11WithVisualStudio2003) {
    framework(true, false);
    set("VisualStudio\\7.1", "InstallDir", "C:\\VS2003\\");
    visualStudio2005();  // never looked at without the 2.0 policy
    visualStudio2008();
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "YES"}, {"p_DotNetFW20Installed", "NO"},
                    {"p_vsnet2003Installed", "YES"}, {"p_vsnet2008Installed", "YES"}, {"VS90_INSTALLDIR", kVs9Ide},
                    {"VS90_ENVDIR", kVs9Ide}},
                   {"TRACE_DATA--90: VS90_INSTALLDIR = " + kVs9Ide, "TRACE_DATA--100: VS90_ENVDIR = " + kVs9Ide});
    EXPECT_EQ(stored("p_DotNetFW11Installed"), std::optional<std::string>("YES"));
    EXPECT_FALSE(stored("p_DotNetFW20Installed").has_value());
}

TEST_F(DetectionTest, Framework20WithVisualStudio2005And2008) {
    framework(false, true);
    visualStudio2005();
    visualStudio2008();
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "NO"}, {"p_DotNetFW20Installed", "YES"},
                    {"p_vsnet2005Installed", "YES"}, {"VS80_INSTALLDIR", kVs8Ide}, {"VS80_ENVDIR", kVs8Ide},
                    {"VS80_VB_INSTALLED", "YES"}, {"p_VS80_VBProdDir", kVs8 + "VB\\"},
                    {"VS80_VCSHARP_INSTALLED", "YES"}, {"p_VS80_VCSHARPProdDir", kVs8 + "VC#\\"},
                    {"p_vsnet2008Installed", "YES"}, {"VS90_INSTALLDIR", kVs9Ide}, {"VS90_ENVDIR", kVs9Ide}},
                   {"TRACE_DATA--30: VS80_INSTALLDIR = " + kVs8Ide, "TRACE_DATA--40: VS80_ENVDIR = " + kVs8Ide,
                    "TRACE_DATA--50: p_VS80_VBProdDir = " + kVs8 + "VB\\",
                    "TRACE_DATA--70: p_VS80_VCSHARPProdDir = " + kVs8 + "VC#\\",
                    "TRACE_DATA--90: VS90_INSTALLDIR = " + kVs9Ide, "TRACE_DATA--100: VS90_ENVDIR = " + kVs9Ide});
    auto raw = machine.registry().value(Hive::CurrentUser, kStore, "p_DotNetFW20Installed");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->data, (std::vector<BYTE>{'Y', 'E', 'S', 0}));
}

TEST_F(DetectionTest, AbsentVisualStudios) {
    framework(true, true);
    set("VisualStudio\\8.0", "installdir", kVs8);  // another case: not the value looked for
    key("VisualStudio\\9.0");
    // 2008 is never "NO" without the 9.0 InstallDir.
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "YES"}, {"p_DotNetFW20Installed", "YES"},
                    {"p_vsnet2005Installed", "NO"}},
                   {});
    // The store key is made even when only the 2008 branch runs.
    EXPECT_TRUE(machine.registry().keyExists(Hive::CurrentUser, kStore));
}

TEST_F(DetectionTest, Visual2008WithoutIdeIsNo) {
    framework(false, false);
    set("VisualStudio\\9.0", "InstallDir", kVs9);
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "NO"}, {"p_DotNetFW20Installed", "NO"},
                    {"p_vsnet2008Installed", "NO"}, {"VS90_INSTALLDIR", kVs9}},
                   {"TRACE_DATA--90: VS90_INSTALLDIR = " + kVs9});
}

TEST_F(DetectionTest, ValuesTooLongForTheBufferAreTracedAsErrors) {
    framework(false, true);
    const std::string longDir = "C:\\" + std::string(260, 'd');
    set("VisualStudio\\8.0", "InstallDir", longDir);
    set("VisualStudio\\8.0\\Setup\\VS", "EnvironmentDirectory", longDir);
    set("VisualStudio\\9.0", "InstallDir", longDir);
    set("VisualStudio\\9.0\\Setup\\VS", "EnvironmentDirectory", longDir);
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "NO"}, {"p_DotNetFW20Installed", "YES"},
                    {"p_vsnet2005Installed", "YES"}, {"p_vsnet2008Installed", "YES"}},
                   {"TRACE_ERROR--35: rc = -1879048190", "TRACE_ERROR--45: rc = -1879048190",
                    "TRACE_ERROR--95: rc = -1879048190", "TRACE_ERROR--105: rc = -1879048190"});
}

TEST_F(DetectionTest, StoreThatCannotBeWrittenIsTraced) {
    framework(true, true);
    machine.registry().createKey(Hive::CurrentUser, kStore);
    machine.registry().denyWrite(Hive::CurrentUser, kStore);
    expectDetected({{"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "YES"}, {"p_DotNetFW20Installed", "YES"},
                    {"p_vsnet2005Installed", "NO"}},
                   {"TRACE_DATA--1: iSetRegValue Failed for p_DotNetFW11Installed",
                    "TRACE_DATA--25: iSetRegValue Failed for p_DotNetFW20Installed"});
}

}  // namespace

// Every custom action with each property it reads set, in turn, to values of awkward
// lengths and contents: it must return a defined result, leave no handle open and, in
// the sanitizer build, touch no memory it does not own.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>
#include <string>
#include <vector>

using namespace fa9test;

namespace {

using Action = UINT(WINAPI*)(MSIHANDLE);

struct SweepCase {
    const char* action;
    Action run;
    const char* property;
    bool deferred = false;  // run in the script, the value handed over through the store
};
void PrintTo(const SweepCase& c, std::ostream* os) {
    *os << c.action << "/" << c.property << (c.deferred ? " (deferred)" : "");
}

// Lengths around the library's buffer capacities (260/261, 1024) and far beyond them.
std::vector<std::string> sweepValues() {
    std::vector<std::string> values;
    for (size_t length : {0, 1, 259, 260, 261, 1023, 1024, 1025, 10000}) {
        std::string v = length >= 3 ? "C:\\" : "";
        v += std::string(length - v.size(), 'a');
        values.push_back(v.substr(0, length));
    }
    values.push_back("\"C:\\Program Files\\quoted\"");
    values.push_back("100%% %s %d %n %1 %2");
    values.push_back("\\\\\\\\server\\\\share\\\\");
    values.push_back("C:\\\xe4\xf6\xfc\\\x82\xa0\x82\xa2\\\x81");
    return values;
}

class PropertySweep : public SessionTest, public ::testing::WithParamInterface<SweepCase> {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(std::string(FA9_STANDINS_DIR) + "/commontoolreg",
                           std::string(kRuntimeDir) + "\\commontoolreg.exe");
        machine.registry().createKey(winsim::Hive::Users, "S-1-5-21-1");
        session.database().createTable("Property", {"Property", "Value"});
        for (const char* name : {"ProductName", "VS80_INSTALLDIR", "VS90_INSTALLDIR"})
            session.database().insertRow("Property", {winsim::Cell::str(name), winsim::Cell::str("x")});
        session.database().createTable("Control", {"Dialog_", "Control", "Type", "X", "Y", "Width", "Height",
                                                   "Attributes", "Property", "Text", "Control_Next", "Help"});
        session.database().createTable("Feature", {"Feature", "Feature_Parent", "Title", "Description", "Display",
                                                   "Level", "Directory_", "Attributes"});
        const std::pair<const char*, const char*> defaults[] = {
            {"ProductName", "Add-ins for Visual Studio"},
            {"ProductLanguage", "1033"},
            {"ProductCode", "{FA9D0A11-57B1-4E60-9A05-3C1E0F0A9700}"},
            {"CURRENT_PROCESS_DIRECTORY", kRuntimeDir},
            {"TempFolder", "C:\\Users\\setup\\AppData\\Local\\Temp\\"},
            {"INSTALLDIR", "C:\\Program Files\\ZNK\\WOLT\\"},
            {"UILevel", "5"},
            {"UserSID", "S-1-5-21-1"},
            {"PROP_RSP_PROD", "WOLT_TOOLS"},
            {"AdminUser", "1"},
        };
        for (const auto& [name, value] : defaults) session.setProperty(name, value);
    }
};

TEST_P(PropertySweep, DefinedResultAndNothingLeftOpen) {
    const SweepCase& c = GetParam();
    const size_t msiHandles = winsim::openMsiHandleCount();
    const size_t kernelHandles = winsim::openKernelHandleCount();
    for (const std::string& value : sweepValues()) {
        session.setProperty(c.property, value);
        machine.messageBoxes.clear();
        if (c.deferred) {
            session.setRunMode(winsim::RunMode::Immediate);
            ASSERT_EQ(session.run(PreProcessInstallCA), 0u) << c.property << " of " << value.size();
            session.setRunMode(winsim::RunMode::Scheduled);
        }
        const UINT rc = session.run(c.run);
        // 234: a value too long for the buffer, passed on as "the read's result code".
        EXPECT_THAT(rc, ::testing::AnyOf(0u, 234u, 1602u, 1603u, 1627u))
            << c.property << " of " << value.size() << " characters";
        EXPECT_EQ(winsim::openMsiHandleCount(), msiHandles) << c.property << " of " << value.size();
        EXPECT_EQ(winsim::openKernelHandleCount(), kernelHandles) << c.property << " of " << value.size();
        EXPECT_EQ(machine.registry().openHandleCount(), 0u) << c.property << " of " << value.size();
    }
}

#define SWEEP(action, ...) sweepOf(#action, action, {__VA_ARGS__})

std::vector<SweepCase> sweepOf(const char* name, Action action, std::initializer_list<const char*> properties) {
    std::vector<SweepCase> out;
    for (const char* p : properties) out.push_back({name, action, p});
    return out;
}

std::vector<SweepCase> allCases() {
    std::vector<std::vector<SweepCase>> groups = {
        SWEEP(InitializeWOLTInstallCA, "ProductLanguage", "TempFolder", "ProductName"),
        SWEEP(SetWOLTDialogTitlePropertiesCA, "ProductName", "ProductLanguage"),
        SWEEP(SetWOLTTemplateCompCA, "VS80_ENVDIR", "REMOVE", "ProductCode"),
        SWEEP(DetectDOTNETEnvCA, "ProductLanguage"),
        SWEEP(CheckWOLTPrereqCA, "AdminUser", "Privileged", "p_vsnet2005Installed", "p_vsnet2008Installed",
              "ProductName"),
        SWEEP(CheckWOLTInstallDirCA, "INSTALLDIR", "UILevel", "FA9_COPY_NAME"),
        SWEEP(DetectDotNetDataProviderInstalledCA, "CURRENT_PROCESS_DIRECTORY", "ProductName", "UILevel"),
        SWEEP(RegisterWOLTKeysCA, "INSTALLDIR", "CURRENT_PROCESS_DIRECTORY", "ProductName"),
        SWEEP(RemoveWOLTKeysCA, "CURRENT_PROCESS_DIRECTORY", "ProductName"),
        SWEEP(SetupWOLTTemplateCA, "VS80_INSTALLDIR", "VS90_INSTALLDIR", "REMOVE"),
        SWEEP(RegisterWOLTMachineCfgCA, "INSTALLDIR"),
        SWEEP(UnregisterWOLTMachineCfgCA, "INSTALLDIR"),
        SWEEP(SetSilentInstallPropertiesCA, "CURRENT_PROCESS_DIRECTORY", "ProductCode", "RSP_FILE_PATH", "UILevel",
              "PROP_RSP_PROD"),
        SWEEP(AddSummaryCA, "RSP_FILE_PATH", "UILevel", "TempFolder", "ProductName", "FA9_COPY_NAME",
              "PROP_RSP_FA9.NAME", "FA9_INSTANCE_NAME", "INSTALLDIR", "PrimaryVolumeSpaceRequired", "ProductState",
              "PROP_RSP_DEFAULT_COPY", "PROP_RSP_PROD"),
        SWEEP(PreProcessInstallCA, "UserSID", "INSTALLDIR", "ProductName"),
        SWEEP(PostProcessInstallCA, "UserSID"),
        SWEEP(CopyVC80AssembliesCA, "INSTALLDIR", "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA",
              "pFA9RuntimeDirectory"),
        SWEEP(RegCOMForCSFunctionsCA, "CURRENT_PROCESS_DIRECTORY"),
    };
    // The actions the package runs in the script, once more as deferred actions.
    std::vector<std::vector<SweepCase>> deferred = {
        SWEEP(RegisterWOLTKeysCA, "INSTALLDIR", "CURRENT_PROCESS_DIRECTORY", "ProductName"),
        SWEEP(RemoveWOLTKeysCA, "CURRENT_PROCESS_DIRECTORY", "ProductName"),
        SWEEP(SetupWOLTTemplateCA, "VS80_INSTALLDIR", "VS90_INSTALLDIR", "REMOVE"),
        SWEEP(RegisterWOLTMachineCfgCA, "INSTALLDIR"),
        SWEEP(UnregisterWOLTMachineCfgCA, "INSTALLDIR"),
        SWEEP(CopyVC80AssembliesCA, "INSTALLDIR", "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA",
              "pFA9RuntimeDirectory"),
    };
    for (auto& g : deferred)
        for (SweepCase& c : g) c.deferred = true;
    std::vector<SweepCase> all;
    for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
    for (const auto& g : deferred) all.insert(all.end(), g.begin(), g.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(EveryAction, PropertySweep, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<SweepCase>& i) {
                             std::string name = std::string(i.param.action) + "_" + i.param.property +
                                                (i.param.deferred ? "_deferred" : "");
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace

// Every custom action with each property it reads set, in turn, to values of awkward
// lengths and contents: it must return a defined result, leave no handle open and, in
// the sanitizer build, touch no memory it does not own.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <regex>

using namespace fa9test;

namespace {

using Action = UINT(WINAPI*)(MSIHANDLE);

// `deferred`: run in the script, the value handed over by PreProcessInstallCA.
struct SweepCase { const char* action; Action run; const char* property; bool deferred; };

// Lengths on either side of the library's buffer capacities (260/261, 1024) and far beyond them.
std::vector<std::string> sweepValues() {
    std::vector<std::string> values = {"\"C:\\Program Files\\quoted\"", "100%% %s %d %n %1 %2",
                                       "\\\\\\\\server\\\\share\\\\", "C:\\\xe4\xf6\xfc\\\x82\xa0\x82\xa2\\\x81"};
    for (size_t length : {0, 259, 260, 261, 1023, 1024, 10000})
        values.push_back(length < 3 ? std::string(length, 'a') : "C:\\" + std::string(length - 3, 'a'));
    return values;
}

// The machine every action of the package finds: runtime folder, registration program,
// the tables and properties the actions read.
class PackageSession : public SessionTest {
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
            {"ProductName", "Add-ins for Visual Studio"}, {"ProductLanguage", "1033"},
            {"ProductCode", "{FA9D0A11-57B1-4E60-9A05-3C1E0F0A9700}"}, {"CURRENT_PROCESS_DIRECTORY", kRuntimeDir},
            {"TempFolder", kTempFolder.c_str()}, {"UILevel", "5"}, {"AdminUser", "1"},
            {"INSTALLDIR", "C:\\Program Files\\ZNK\\WOLT\\"}, {"UserSID", "S-1-5-21-1"},
            {"PROP_RSP_PROD", "WOLT_TOOLS"}};
        for (const auto& [name, value] : defaults) session.setProperty(name, value);
        // The package's rows of this library: PreProcessInstallCA hands the script's ones
        // their values, and the registration ones the digests of the program's rows.
        session.database().createTable("CustomAction", {"Action", "Type", "Source", "Target"});
        const auto action = [&](const char* name, int type, const char* target) {
            session.database().insertRow("CustomAction", {winsim::Cell::str(name), winsim::Cell::integer(type),
                                                          winsim::Cell::str("fa9wolt.dll"), winsim::Cell::str(target)});
        };
        action("PreProcessInstallCA", 1, "PreProcessInstallCA");
        for (const char* name : {"UnregisterWOLTMachineCfgCA", "RemoveWOLTKeysCA", "CopyVC80AssembliesCA",
                                 "RegisterWOLTKeysCA", "RegisterWOLTMachineCfgCA", "SetupWOLTTemplateCA"})
            action(name, 3073, name);
        action("RollbackUnregisterWOLTMachineCfg", 3329, "RegisterWOLTMachineCfgCA");
        action("RollbackRemoveWOLTKeys", 3329, "RegisterWOLTKeysCA");
        action("RollbackRegisterWOLTKeys", 3329, "RemoveWOLTKeysCA");
        action("RollbackRegisterWOLTMachineCfg", 3329, "UnregisterWOLTMachineCfgCA");
    }
};

class PropertySweep : public PackageSession, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(PropertySweep, DefinedResultAndNothingLeftOpen) {
    const SweepCase& c = GetParam();
    const size_t msiHandles = winsim::openMsiHandleCount(), kernelHandles = winsim::openKernelHandleCount();
    for (const std::string& value : sweepValues()) {
        SCOPED_TRACE(std::string(c.property) + " of " + std::to_string(value.size()) + " characters");
        session.setProperty(c.property, value);
        machine.messageBoxes.clear();
        if (c.deferred) {
            session.setRunMode(winsim::RunMode::Immediate);
            ASSERT_EQ(session.run(PreProcessInstallCA), 0u);
            session.setRunMode(winsim::RunMode::Scheduled);
            session.setProperty("CustomActionData", session.property(c.action));
        }
        const UINT rc = session.run(c.run);
        // 234: a value too long for the buffer, passed on as "the read's result code".
        EXPECT_THAT(rc, ::testing::AnyOf(0u, 234u, 1602u, 1603u, 1627u));
        EXPECT_EQ(winsim::openMsiHandleCount(), msiHandles);
        EXPECT_EQ(winsim::openKernelHandleCount(), kernelHandles);
        EXPECT_EQ(machine.registry().openHandleCount(), 0u);
    }
}

// `inScript`: the package also runs the action in the script, so it is swept a second
// time as a deferred action.
#define SWEEP(inScript, action, ...) sweepOf(#action, action, inScript, {__VA_ARGS__})

std::vector<SweepCase> sweepOf(const char* name, Action action, bool inScript,
                               std::initializer_list<const char*> properties) {
    std::vector<SweepCase> out;
    for (bool deferred : {false, true})
        for (const char* p : properties)
            if (inScript || !deferred) out.push_back({name, action, p, deferred});
    return out;
}

std::vector<SweepCase> allCases() {
    std::vector<SweepCase> all;
    // The frame reads ProductLanguage and UILevel alike for every action: a few actions
    // sweep them for all.
    for (const auto& group : {
             SWEEP(false, InitializeWOLTInstallCA, "ProductLanguage", "TempFolder", "ProductName"),
             SWEEP(false, SetWOLTDialogTitlePropertiesCA, "ProductName"),
             SWEEP(false, SetWOLTTemplateCompCA, "VS80_ENVDIR", "REMOVE", "ProductCode"),
             SWEEP(false, CheckWOLTPrereqCA, "AdminUser", "Privileged", "p_vsnet2005Installed", "p_vsnet2008Installed",
                   "ProductName"),
             SWEEP(false, CheckWOLTInstallDirCA, "INSTALLDIR", "FA9_COPY_NAME"),
             SWEEP(false, DetectDotNetDataProviderInstalledCA, "CURRENT_PROCESS_DIRECTORY", "ProductName"),
             SWEEP(true, RegisterWOLTKeysCA, "INSTALLDIR", "CURRENT_PROCESS_DIRECTORY", "ProductName"),
             SWEEP(true, RemoveWOLTKeysCA, "CURRENT_PROCESS_DIRECTORY", "ProductName"),
             SWEEP(true, SetupWOLTTemplateCA, "VS80_INSTALLDIR", "VS90_INSTALLDIR", "REMOVE"),
             SWEEP(true, RegisterWOLTMachineCfgCA, "INSTALLDIR"),
             SWEEP(true, UnregisterWOLTMachineCfgCA, "INSTALLDIR"),
             SWEEP(false, SetSilentInstallPropertiesCA, "CURRENT_PROCESS_DIRECTORY", "ProductCode", "RSP_FILE_PATH",
                   "UILevel", "PROP_RSP_PROD"),
             SWEEP(false, AddSummaryCA, "RSP_FILE_PATH", "UILevel", "TempFolder", "ProductName", "FA9_COPY_NAME",
                   "PROP_RSP_FA9.NAME", "FA9_INSTANCE_NAME", "INSTALLDIR", "PrimaryVolumeSpaceRequired", "ProductState",
                   "PROP_RSP_DEFAULT_COPY", "PROP_RSP_PROD"),
             // (INSTALLDIR and ProductName: their deferred cases run it with every value first.)
             SWEEP(false, PreProcessInstallCA, "UserSID"),
             SWEEP(false, PostProcessInstallCA, "UserSID"),
             SWEEP(true, CopyVC80AssembliesCA, "INSTALLDIR", "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA",
                   "pFA9RuntimeDirectory"),
             SWEEP(false, RegCOMForCSFunctionsCA, "CURRENT_PROCESS_DIRECTORY"),
         })
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(EveryAction, PropertySweep, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<SweepCase>& i) {
                             const std::string name = std::string(i.param.action) + "_" + i.param.property +
                                                      (i.param.deferred ? "_deferred" : "");
                             return std::regex_replace(name, std::regex("[^A-Za-z0-9]"), "_");
                         });

// Each call a custom action makes to the installer is a round trip between the
// custom-action server and the installer: a budget per action keeps them from creeping
// back (property reads that each ask the run mode again, one stream read per kilobyte).
// The immediate actions in the package's order, on a machine with .NET 2.0 and Visual
// Studio 2005 and 2008 (the detection walks every key it knows) and the runtime rows at
// their real sizes (4.1 MB in all).
using RoundTrips = PackageSession;

TEST_F(RoundTrips, WithinTheActionsBudget) {
    const char* package = "C:\\Windows\\Installer\\2b7e.msi";
    const std::string software = "SOFTWARE\\WOW6432Node\\Microsoft\\";
    auto& reg = machine.registry();
    reg.setString(winsim::Hive::LocalMachine, software + ".NETFramework", "InstallRoot", "C:\\Windows\\NET");
    reg.createKey(winsim::Hive::LocalMachine, software + ".NETFramework\\policy\\v2.0");
    for (const std::string vs : {"VisualStudio\\8.0", "VisualStudio\\9.0"}) {
        reg.setString(winsim::Hive::LocalMachine, software + vs, "InstallDir", "C:\\VS\\");
        reg.setString(winsim::Hive::LocalMachine, software + vs + "\\Setup\\VS", "EnvironmentDirectory", "C:\\VS\\");
    }
    const std::map<std::string, size_t> sizes = {  // the sibling libraries 40000 each
        {"msvcm80.dll", 479232}, {"msvcp80.dll", 548864}, {"msvcr80.dll", 626688}, {"mfc80.dll", 1093632},
        {"mfc80u.dll", 1101824}, {"mfcm80.dll", 69632}, {"mfcm80u.dll", 69632}, {"microsoft.vc80.crt.manifest", 1859},
        {"microsoft.vc80.mfc.manifest", 1345}, {"commontoolreg.exe", 60000}};
    const auto bytes = [&](const std::string& r) { return std::string(sizes.count(r) ? sizes.at(r) : 40000, 'x'); };
    addRuntimeRows(session, bytes);
    session.database().createTable("Dialog", {"Dialog", "Title"});
    session.database().insertRow("Dialog", {winsim::Cell::str("InstallWelcome_noJava"),
                                            winsim::Cell::str("[ProductName] Setup")});
    session.writePackageCopy(package);
    session.setProperty("DATABASE", package);
    const struct {
        const char* action;
        Action run;
        size_t budget;
        bool maintenance = false;     // the product installed
        const char* transforms = "";  // registered with it: its tables are read through views then
    } rows[] = {{"InitializeWOLTInstallCA", InitializeWOLTInstallCA, 165},
                {"SetWOLTDialogTitlePropertiesCA", SetWOLTDialogTitlePropertiesCA, 11},
                {"SetWOLTTemplateCompCA", SetWOLTTemplateCompCA, 5}, {"DetectDOTNETEnvCA", DetectDOTNETEnvCA, 15},
                {"CheckWOLTInstallDirCA", CheckWOLTInstallDirCA, 5}, {"PreProcessInstallCA", PreProcessInstallCA, 21},
                {"PostProcessInstallCA", PostProcessInstallCA, 5},
                {"PreProcessInstallCA", PreProcessInstallCA, 21, true},
                {"PreProcessInstallCA", PreProcessInstallCA, 45, true, ":Site.mst"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.action) + " " + row.transforms);
        if (row.maintenance) session.setProperty("Installed", "00:00:00");
        if (row.maintenance) machine.setProduct(session.property("ProductCode"), {{}, row.transforms});
        session.resetInstallerCalls();
        // An action that fails early makes few calls: only a whole run says the budget holds.
        ASSERT_EQ(session.run(row.run), 0u);
        EXPECT_LE(session.installerCalls(), row.budget);
    }
}

}  // namespace

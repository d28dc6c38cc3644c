// The deferred property store: filled before the script, read by deferred custom
// actions, removed afterwards.
#include "actions/exports.h"
#include "fixture.h"
#include "session/action_data.h"
#include "session/property_access.h"
#include "session/property_store.h"

#include <gmock/gmock.h>

#include <tuple>

using namespace fa9test;
using winsim::Cell;
using winsim::Hive;

namespace {

const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-512";
const std::string kStore = kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
const char* kPackage = "C:\\Windows\\Installer\\5fa9c.msi";

class PropertyStore : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.registry().createKey(Hive::Users, kSid);
        session.setProperty("UserSID", kSid);
        session.database().createTable("Property", {"Property", "Value"});
        for (const char* name : {"ProductName", "INSTALLDIR", "ZZ_PACKAGE_ONLY"})
            session.database().insertRow("Property", {Cell::str(name), Cell::str("x")});
        session.setProperty("ProductName", "Add-ins for Visual Studio");
        session.setProperty("INSTALLDIR", "C:\\Tools\\WOLT\\");
        session.setProperty("ZZ_PACKAGE_ONLY", "only in the Property table");
        session.setProperty("SILENT_MODE", "1");
    }
    std::optional<std::string> stored(const std::string& name) {
        return machine.registry().getString(Hive::Users, kStore, name);
    }
};

TEST_F(PropertyStore, SavesTheTableTheFixedListAndTheSelectStates) {
    session.setComponentState("BASE_CLIENT.bin", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    session.setComponentState("LDAP.bin", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
    session.setComponentState("VS_DOT_NET.bin", INSTALLSTATE_LOCAL, INSTALLSTATE_LOCAL);
    const std::string longValue(1500, 'c');  // more than one read's buffer
    session.setProperty("SE_SELECT_CONDITION", longValue);
    // The store's writes run on a thread of their own, or, where none can be started,
    // right away: the same store and a quiet log either way.
    for (const bool threadsFail : {false, true}) {
        SCOPED_TRACE(threadsFail ? "no thread" : "thread");
        machine.threadsFail = threadsFail;
        EXPECT_EQ(run(PreProcessInstallCA), 0u);
        EXPECT_THAT(log(), ::testing::IsEmpty());
        EXPECT_EQ(stored("SE_SELECT_CONDITION"), longValue);
        EXPECT_EQ(stored("ZZ_PACKAGE_ONLY"), "only in the Property table");
        EXPECT_EQ(stored("INSTALLDIR"), "C:\\Tools\\WOLT\\");
        EXPECT_EQ(stored("SILENT_MODE"), "1");
        EXPECT_EQ(stored("TR_SELECT_CONDITION"), "") << "a name the session does not know is saved empty";
        EXPECT_EQ(stored("BASE_CLIENT_BIN_SELECTED"), "Y");
        EXPECT_EQ(stored("BASE_CLIENT.bin_SELECT_STATE"), "SELECTED");
        EXPECT_EQ(stored("LDAP.bin_SELECT_STATE"), "DESELECTED");
        EXPECT_EQ(stored("VS_DOT_NET.bin_SELECT_STATE"), std::nullopt) << "neither new nor removed";
        EXPECT_EQ(stored("ODBC_SUPPORT_SELECT_STATE"), std::nullopt);
        // ProductName and ZZ_PACKAGE_ONLY of the table, 111 distinct names of the fixed list
        // (INSTALLDIR is in both), two select states.
        EXPECT_EQ(machine.registry().valueNames(Hive::Users, kStore).size(), 2u + 111u + 2u);
    }
}

TEST_F(PropertyStore, DeferredActionsReadTheStoreAndItsSelectStates) {
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    session.setProperty("INSTALLDIR", "C:\\Changed later\\");
    session.setRunMode(winsim::RunMode::Scheduled);
    char value[261] = {};
    DWORD capacity = sizeof(value);
    ASSERT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", value, &capacity), 0u);
    EXPECT_STREQ(value, "C:\\Tools\\WOLT\\");
    machine.registry().setString(Hive::Users, kStore, "LDAP.bin_SELECT_STATE", "selected");
    EXPECT_TRUE(iIsComponentSelected(session.handle(), "LDAP.bin"));
    EXPECT_FALSE(iIsComponentSelected(session.handle(), "BASE_CLIENT.bin"));
}

TEST_F(PropertyStore, InTheScriptTheStoredSelectStatesDecideAgain) {
    // A second save inside the script (rollback mode) keeps what the store says.
    machine.registry().setString(Hive::Users, kStore, "LDAP.bin_SELECT_STATE", "Deselected");
    machine.registry().setString(Hive::Users, kStore, "ODBC_SUPPORT_SELECT_STATE", "SELECTED");
    session.setRunMode(winsim::RunMode::Rollback);
    EXPECT_EQ(iSavePropertiesForDeferred(session.handle()), 0u);
    EXPECT_EQ(stored("LDAP.bin_SELECT_STATE"), "DESELECTED");
    EXPECT_EQ(stored("ODBC_SUPPORT_SELECT_STATE"), "SELECTED");
    EXPECT_EQ(stored("BASE_CLIENT.bin_SELECT_STATE"), std::nullopt);
}

TEST_F(PropertyStore, ResponseFileSettingsAreSavedButNotProdOrBlankOnes) {
    // The action reads the file RSP_FILE_PATH names itself: no earlier action's engine
    // is left to hold it.
    machine.writeFile("C:\\rsp\\a.rsp", "PROD = WOLT_TOOLS\nFILE = C:\\Tools\\WOLT\nFA9_COPY_NAME = BLANK\n"
                                      "FA9_ADMINGROUP_NAME = FA9ADMNS\n");
    session.setProperty("RSP_FILE_PATH", "C:\\rsp\\a.rsp");
    session.setProperty("PROP_RSP_FA9_ADMINGROUP_NAME", "Administrators");
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("PROP_RSP_FILE"), "C:\\Tools\\WOLT");
    EXPECT_EQ(stored("PROP_RSP_FA9_ADMINGROUP_NAME"), "FA9ADMNS") << "the file wins over the fixed list's value";
    EXPECT_EQ(stored("PROP_RSP_PROD"), "") << "only the fixed list's (empty) value";
    EXPECT_EQ(stored("PROP_RSP_FA9_COPY_NAME"), std::nullopt);
    // A path that names no file saves no settings and fails nothing.
    session.setProperty("RSP_FILE_PATH", "C:\\rsp\\missing.rsp");
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("PROP_RSP_FILE"), std::nullopt);
}

TEST_F(PropertyStore, TheLastReadOrWriteOfTheLaterStepsDecides) {
    // A value holding the batch's separator: every name is then read on its own.
    session.setProperty("USERNAME", "split\x1Fhere");
    // An early failure is forgotten once a later write succeeds...
    session.failGetProperty("EXISTING_FA9_VERSION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    // ...the last name of the fixed list failing decides when nothing is written after it...
    session.failGetProperty("TR_SELECT_CONDITION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    ASSERT_FALSE(log().empty());
    EXPECT_THAT(log().back(), ::testing::HasSubstr("failed with result code 1615."));
    // ...and a select state written after it wins again.
    session.setComponentState("ODBC_SUPPORT", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("ODBC_SUPPORT_SELECT_STATE"), "SELECTED");
    EXPECT_EQ(stored("USERNAME"), "split\x1Fhere");
}

// (The store under the user's SID and its removal: run_folder_test.cpp.)
TEST_F(PropertyStore, WithoutTheUsersKeyTheCurrentUserKeepsTheStoreUntilPostProcess) {
    const std::string store = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
    machine.registry().deleteKey(Hive::Users, kSid);
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::CurrentUser, store, "INSTALLDIR"), "C:\\Tools\\WOLT\\");
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_FALSE(machine.registry().keyExists(Hive::CurrentUser, store));
    EXPECT_EQ(run(PostProcessInstallCA), 0u) << "quiet without a store";
    EXPECT_THAT(log(), ::testing::IsEmpty());
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
    EXPECT_EQ(machine.registry().openHandleCount(), 0u);
}

TEST_F(PropertyStore, FailuresEndTheInstallationWith2006) {
    const std::string failed = logged(
        "Error: An installation step failed with result code 6045. Check the preceding lines of this log for the "
        "cause, correct it and run the installation again.");
    session.database().available = false;
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    ASSERT_FALSE(log().empty());
    EXPECT_EQ(log().back(), failed);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);

    session.database().available = true;
    session.clearLog();
    machine.registry().denyWrite(Hive::Users, kStore);
    machine.registry().createKey(Hive::Users, kStore);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u) << "the last store write decides";
    ASSERT_FALSE(log().empty());
    EXPECT_THAT(log().back(), ::testing::HasSubstr("failed with result code 5."));
}

// ---------------------------------------------------------------- what the script's actions are handed

class ActionData : public PropertyStore {
protected:
    void SetUp() override {
        PropertyStore::SetUp();
        session.database().createTable("CustomAction", {"Action", "Type", "Source", "Target"});
        const std::vector<std::tuple<const char*, int, const char*, const char*>> rows = {
            {"PreProcessInstallCA", 1, "FA9WOLT_DLL", "PreProcessInstallCA"},
            {"RegisterWOLTKeysCA", 3073, "FA9WOLT_DLL", "RegisterWOLTKeysCA"},
            {"RollbackRegisterWOLTKeys", 3329, "FA9WOLT_DLL", "RemoveWOLTKeysCA"},
            {"CopyVC80AssembliesCA", 3073, "FA9WOLT_DLL", "CopyVC80AssembliesCA"},
            {"CommitTemplates", 3585, "FA9WOLT_DLL", "SetupWOLTTemplateCA"},
            {"OtherLibrarysRow", 3073, "OTHER_DLL", "RegisterWOLTKeysCA"},
            {"ImmediateRow", 1, "FA9WOLT_DLL", "RegisterWOLTKeysCA"},
            {"NotAnExportOfOurs", 3073, "FA9WOLT_DLL", "SomethingElse"},
        };
        for (const auto& [action, type, source, target] : rows)
            session.database().insertRow("CustomAction",
                                         {Cell::str(action), Cell::integer(type), Cell::str(source), Cell::str(target)});
        session.setProperty("DATABASE", kPackage);
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
        session.setProperty("ProductLanguage", "1033");
        session.setProperty("PROP_RSP_DAS_PASSWORD", "secret");
    }
    std::optional<std::string> entry(const char* action, const char* name) {
        const std::string data = session.property(action);
        std::string value;
        if (iFindActionEntry(data.data(), data.size(), name, value) != ActionEntry::Found) return std::nullopt;
        return value;
    }
};

TEST_F(ActionData, EachScriptRowOfThisLibraryGetsWhatItsExportReads) {
    // A store left by an earlier run is gone before the new one is written.
    machine.registry().setString(Hive::Users, kStore, "STALE_NAME", "from last week");
    machine.registry().setString(Hive::Users, kStore + "\\Leftover", "x", "y");
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "INSTALLDIR"), "C:\\Tools\\WOLT\\");
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "CURRENT_PROCESS_DIRECTORY"), kRuntimeDir);
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "ProductName"), "Add-ins for Visual Studio");
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "ProductLanguage"), "1033") << "what the frame reads";
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "FA9_PROGRAM_TIMEOUT"), "") << "unset, and so handed empty";
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "DATABASE"), kPackage) << "where the script reads the program";
    EXPECT_EQ(entry("RegisterWOLTKeysCA", "PROP_RSP_DAS_PASSWORD"), std::nullopt);
    // A rollback row gets what its export reads.
    EXPECT_EQ(entry("RollbackRegisterWOLTKeys", "INSTALLDIR"), std::nullopt);
    EXPECT_EQ(entry("RollbackRegisterWOLTKeys", "CURRENT_PROCESS_DIRECTORY"), kRuntimeDir);
    EXPECT_EQ(entry("RollbackRegisterWOLTKeys", "DATABASE"), kPackage);
    EXPECT_EQ(entry("CopyVC80AssembliesCA", "INSTALLDIR"), "C:\\Tools\\WOLT\\");
    EXPECT_EQ(entry("CopyVC80AssembliesCA", "DATABASE"), kPackage);
    EXPECT_EQ(entry("CommitTemplates", "DATABASE"), kPackage) << "where the script reads its texts";
    EXPECT_EQ(entry("CommitTemplates", "REMOVE"), "");
    for (const char* untouched : {"OtherLibrarysRow", "ImmediateRow", "NotAnExportOfOurs"})
        EXPECT_FALSE(session.hasProperty(untouched)) << untouched;
    // The store is still written as it always was.
    EXPECT_EQ(stored("INSTALLDIR"), "C:\\Tools\\WOLT\\");
    EXPECT_EQ(stored("PROP_RSP_DAS_PASSWORD"), "secret");
    EXPECT_EQ(stored("STALE_NAME"), std::nullopt);
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kStore + "\\Leftover"));
}

// A first installation that applies no transform and no patch takes the Property
// table's names and the CustomAction rows from the installer's copy of the package;
// anywhere else the session's tables answer, with what a transform added to them.
TEST_F(ActionData, TheInstallersCopyAnswersOnlyWhereTheSessionsTablesAreItsOwn) {
    const std::string productCode = "{5FA9C0DE-1111-4222-8333-944455556666}";
    session.setProperty("ProductCode", productCode);
    session.writePackageCopy(kPackage);
    session.database().insertRow("Property", {Cell::str("ZZ_TRANSFORMED"), Cell::str("x")});
    session.setProperty("ZZ_TRANSFORMED", "added");
    session.database().insertRow("CustomAction", {Cell::str("TransformedRow"), Cell::integer(3073),
                                                  Cell::str("FA9WOLT_DLL"), Cell::str("RegisterWOLTMachineCfgCA")});
    const struct {
        const char* label;
        const char* name;
        const char* value;
        bool fromCopy;
    } cases[] = {
        {"a first installation", "TRANSFORMS", "", true},
        {"a transform", "TRANSFORMS", ":Instance1.mst", false},
        {"a patch", "PATCH", "C:\\Updates\\fix.msp", false},
        {"maintenance", "Installed", "2026/12/01 10:00:00", false},
        {"another product's copy", "ProductCode", "{5FA9C0DE-1111-4222-8333-000000000000}", false},
        {"no copy where DATABASE says", "DATABASE", "C:\\Windows\\Installer\\none.msi", false},
        // Last: its list stays.
        {"a copy others can change", "TRANSFORMS", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (&c == &cases[std::size(cases) - 1]) machine.setAccessList(kPackage, {"", false, {{winsim::kSidEveryone}}});
        const std::string before = session.property(c.name);
        session.setProperty(c.name, c.value);
        session.removeProperty("TransformedRow");
        ASSERT_EQ(run(PreProcessInstallCA), 0u);
        EXPECT_EQ(stored("ZZ_TRANSFORMED"), c.fromCopy ? std::nullopt : std::optional<std::string>("added"));
        EXPECT_EQ(session.hasProperty("TransformedRow"), !c.fromCopy);
        EXPECT_EQ(stored("ZZ_PACKAGE_ONLY"), "only in the Property table");
        EXPECT_EQ(entry("RegisterWOLTKeysCA", "INSTALLDIR"), "C:\\Tools\\WOLT\\");
        EXPECT_EQ(entry("CommitTemplates", "DATABASE"), session.property("DATABASE"));
        EXPECT_FALSE(session.hasProperty("OtherLibrarysRow"));
        session.setProperty(c.name, before);
    }
}

TEST_F(ActionData, APackageWithoutItsOwnRowHandsNothing) {
    session.database().rows("CustomAction").erase(session.database().rows("CustomAction").begin());
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_FALSE(session.hasProperty("RegisterWOLTKeysCA"));
}

}  // namespace

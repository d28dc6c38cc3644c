// The deferred property store: filled before the script, read by deferred custom
// actions, removed afterwards.
#include "actions/exports.h"
#include "fixture.h"
#include "frame/ure.h"
#include "session/property_access.h"
#include "session/property_store.h"

#include <gmock/gmock.h>

using namespace fa9test;
using winsim::Cell;
using winsim::Hive;

namespace {

const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-512";
const std::string kStore = kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";

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
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty());
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

TEST_F(PropertyStore, TheStoreGoesWithItsSubkeys) {
    machine.registry().setString(Hive::Users, kStore + "\\Leftover\\Deeper", "x", "y");
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kStore));
}

TEST_F(PropertyStore, ResponseFileSettingsAreSavedButNotProdOrBlankOnes) {
    machine.writeFile("C:\\rsp\\a.rsp", "PROD = WOLT_TOOLS\nFILE = C:\\Tools\\WOLT\nFA9_COPY_NAME = BLANK\n");
    ASSERT_EQ(URE::instance()->setResponseFile("C:\\rsp\\a.rsp", 0), 0);
    EXPECT_EQ(iSavePropertiesForDeferred(session.handle()), 0u);
    URE::destroy();
    EXPECT_EQ(stored("PROP_RSP_FILE"), "C:\\Tools\\WOLT");
    EXPECT_EQ(stored("PROP_RSP_PROD"), "") << "only the fixed list's (empty) value";
    EXPECT_EQ(stored("PROP_RSP_FA9_COPY_NAME"), std::nullopt);
}

TEST_F(PropertyStore, TheLastReadOrWriteOfTheLaterStepsDecides) {
    // An early failure is forgotten once a later write succeeds...
    session.failGetProperty("EXISTING_FA9_VERSION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    // ...the last name of the fixed list failing decides when nothing is written after it...
    session.failGetProperty("TR_SELECT_CONDITION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    EXPECT_THAT(log().back(), ::testing::HasSubstr("failed with result code 1615."));
    // ...and a select state written after it wins again.
    session.setComponentState("ODBC_SUPPORT", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("ODBC_SUPPORT_SELECT_STATE"), "SELECTED");
}

TEST_F(PropertyStore, TheResponseFileOverridesTheFixedListsValue) {
    session.setProperty("PROP_RSP_FA9_ADMINGROUP_NAME", "Administrators");
    machine.writeFile("C:\\rsp\\b.rsp", "PROD = WOLT_TOOLS\nFA9_ADMINGROUP_NAME = FA9ADMNS\n");
    ASSERT_EQ(URE::instance()->setResponseFile("C:\\rsp\\b.rsp", 0), 0);
    EXPECT_EQ(iSavePropertiesForDeferred(session.handle()), 0u);
    URE::destroy();
    EXPECT_EQ(stored("PROP_RSP_FA9_ADMINGROUP_NAME"), "FA9ADMNS");
}

TEST_F(PropertyStore, WithoutTheUsersKeyTheCurrentUserKeepsTheStore) {
    machine.registry().deleteKey(Hive::Users, kSid);
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::CurrentUser, "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95", "INSTALLDIR"),
              "C:\\Tools\\WOLT\\");
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_FALSE(machine.registry().keyExists(Hive::CurrentUser, "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95"));
}

TEST_F(PropertyStore, PostProcessRemovesTheStoreAndIsQuietWithoutOne) {
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    ASSERT_TRUE(machine.registry().keyExists(Hive::Users, kStore));
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kStore));
    EXPECT_TRUE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP"));
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
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
    EXPECT_EQ(log().back(), failed);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);

    session.database().available = true;
    session.clearLog();
    machine.registry().denyWrite(Hive::Users, kStore);
    machine.registry().createKey(Hive::Users, kStore);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u) << "the last store write decides";
    EXPECT_THAT(log().back(), ::testing::HasSubstr("failed with result code 5."));
}

}  // namespace

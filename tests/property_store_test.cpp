// The deferred property store: filled before the script, read by deferred custom
// actions, removed afterwards.
#include "actions/exports.h"
#include "fixture.h"
#include "session/property_access.h"
#include "session/property_store.h"

#include <gmock/gmock.h>

#include <map>

using namespace fa9test;
using winsim::Hive;

namespace {

using PropertyStore = StoreTest;

// A name the session does not know is saved empty; a component neither new nor removed has no select state.
TEST_F(PropertyStore, SavesTheTableTheFixedListAndTheSelectStates) {
    session.setComponentState("BASE_CLIENT.bin", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    session.setComponentState("LDAP.bin", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
    session.setComponentState("VS_DOT_NET.bin", INSTALLSTATE_LOCAL, INSTALLSTATE_LOCAL);
    const std::string longValue(1500, 'c');  // more than one read's buffer
    session.setProperty("SE_SELECT_CONDITION", longValue);
    // Written on a thread of its own, or right away where none starts: the same store either way.
    for (const bool threadsFail : {false, true}) {
        machine.threadsFail = threadsFail;
        EXPECT_EQ(run(PreProcessInstallCA), 0u);
        EXPECT_THAT(log(), ::testing::IsEmpty());
        for (const auto& [name, value] : std::map<std::string, std::optional<std::string>>{
                 {"SE_SELECT_CONDITION", longValue}, {"ZZ_PACKAGE_ONLY", "only in the Property table"},
                 {"INSTALLDIR", "C:\\Tools\\WOLT\\"}, {"TR_SELECT_CONDITION", ""}, {"BASE_CLIENT_BIN_SELECTED", "Y"},
                 {"BASE_CLIENT.bin_SELECT_STATE", "SELECTED"}, {"LDAP.bin_SELECT_STATE", "DESELECTED"},
                 {"VS_DOT_NET.bin_SELECT_STATE", std::nullopt}})
            EXPECT_EQ(stored(name), value) << name << (threadsFail ? ", no thread" : "");
    }
}

// (Deferred reads of the store's values: property_access_test.cpp.)
TEST_F(PropertyStore, DeferredActionsReadTheSelectStates) {
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    session.setRunMode(winsim::RunMode::Scheduled);
    machine.registry().setString(Hive::Users, store, "LDAP.bin_SELECT_STATE", "selected");
    EXPECT_TRUE(iIsComponentSelected(session.handle(), "LDAP.bin"));
    EXPECT_FALSE(iIsComponentSelected(session.handle(), "BASE_CLIENT.bin"));
}

// A second save inside the script (rollback mode) keeps what the store says.
TEST_F(PropertyStore, InTheScriptTheStoredSelectStatesDecideAgain) {
    machine.registry().setString(Hive::Users, store, "LDAP.bin_SELECT_STATE", "Deselected");
    machine.registry().setString(Hive::Users, store, "ODBC_SUPPORT_SELECT_STATE", "SELECTED");
    session.setRunMode(winsim::RunMode::Rollback);
    EXPECT_EQ(iSavePropertiesForDeferred(session.handle()), 0u);
    EXPECT_EQ(stored("LDAP.bin_SELECT_STATE"), "DESELECTED");
    EXPECT_EQ(stored("ODBC_SUPPORT_SELECT_STATE"), "SELECTED");
}

// The file wins over the fixed list's value; PROD keeps only the list's (empty) value; BLANK is not saved.
TEST_F(PropertyStore, ResponseFileSettingsAreSavedButNotProdOrBlankOnes) {
    machine.writeFile("C:\\rsp\\a.rsp", "PROD = WOLT_TOOLS\nFILE = C:\\Tools\\WOLT\nFA9_COPY_NAME = BLANK\n"
                                      "FA9_ADMINGROUP_NAME = FA9ADMNS\n");
    session.setProperty("RSP_FILE_PATH", "C:\\rsp\\a.rsp");
    session.setProperty("PROP_RSP_FA9_ADMINGROUP_NAME", "Administrators");
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("PROP_RSP_FILE"), "C:\\Tools\\WOLT");
    EXPECT_EQ(stored("PROP_RSP_FA9_ADMINGROUP_NAME"), "FA9ADMNS");
    EXPECT_EQ(stored("PROP_RSP_PROD"), "");
    EXPECT_EQ(stored("PROP_RSP_FA9_COPY_NAME"), std::nullopt);
    session.setProperty("RSP_FILE_PATH", "C:\\rsp\\missing.rsp");  // saves no settings and fails nothing
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("PROP_RSP_FILE"), std::nullopt);
}

TEST_F(PropertyStore, TheLastReadOrWriteOfTheLaterStepsDecides) {
    session.setProperty("USERNAME", "split\x1Fhere");  // the batch's separator: every name read on its own
    // An early failure is forgotten once a later write succeeds; the fixed list's last name failing decides
    // when nothing is written after it; a select state written after it wins again.
    session.failGetProperty("EXISTING_FA9_VERSION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    session.failGetProperty("TR_SELECT_CONDITION", 1615);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    session.setComponentState("ODBC_SUPPORT", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
    EXPECT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(stored("USERNAME"), "split\x1Fhere");
}

// (The store under the user's SID and its removal: run_folder_test.cpp.)
TEST_F(PropertyStore, WithoutTheUsersKeyTheCurrentUserKeepsTheStoreUntilPostProcess) {
    machine.registry().deleteKey(Hive::Users, sid);
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::CurrentUser, kStoreKey, "INSTALLDIR"), "C:\\Tools\\WOLT\\");
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_FALSE(machine.registry().keyExists(Hive::CurrentUser, kStoreKey));
    EXPECT_EQ(run(PostProcessInstallCA), 0u) << "quiet without a store";
    EXPECT_THAT(log(), ::testing::IsEmpty());
    EXPECT_EQ(machine.registry().openHandleCount(), 0u);
}

TEST_F(PropertyStore, FailuresEndTheInstallation) {
    session.database().available = false;
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);
    session.database().available = true;
    machine.registry().denyWrite(Hive::Users, store);  // the last store write decides
    machine.registry().createKey(Hive::Users, store);
    EXPECT_EQ(run(PreProcessInstallCA), 1603u);
}

}  // namespace

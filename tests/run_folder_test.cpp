// What a run leaves behind: its runtime folder and store go when it ends, and a later run
// removes the folders of finished (killed) runs and never a live one's.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <filesystem>

using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-1001";

class RunFolders : public SessionTest {
protected:
    RunFolders() {
        session.setProperty("TempFolder", kTempFolder);
        session.setProperty("UserSID", kSid);
        machine.registry().createKey(Hive::Users, kSid + "\\SOFTWARE");
        session.database().createTable("Property", {"Property", "Value"});
        addRuntimeRows(session, [](const std::string& row) { return row; });
    }
    // The FA9WOLT names in the temporary folder (folders and markers).
    std::vector<std::string> traces() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(kTempFolder))) {
            const std::string name = e.path().filename().string();
            if (name.rfind("FA9WOLT", 0) == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(RunFolders, TheRunsFolderAndStoreGoWhenItEnds) {
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    ASSERT_TRUE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95"));
    machine.writeFile(kTempFolder + "FA9RL000.rsp", "PROD=WOLT_TOOLS\n");  // written from the dialog choices
    session.setProperty("RSP_FILE_PATH", kTempFolder + "FA9RL000.rsp");
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_THAT(traces(), ::testing::IsEmpty());
    EXPECT_FALSE(machine.fileExists(kTempFolder + "FA9RL000.rsp"));
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK"));
    EXPECT_TRUE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE"));
}

// What was there before stays: keys of the store's path, what a record this process did
// not write (inherited, or from the user's saved variables) names, and the user's own
// response file, though named like a written one.
TEST_F(RunFolders, WhatWasThereBeforeStays) {
    machine.registry().setString(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9", "Other", "kept");
    machine.writeFile("C:\\Victim\\keep.txt", "keep");
    machine.writeFile("C:\\Victim\\FA9RL000.rsp", "PROD=WOLT_TOOLS\n");
    session.setProperty("RSP_FILE_PATH", "C:\\Victim\\FA9RL000.rsp");
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    machine.environment["FA9WOLT_LIVE_RUNTIME"] = "1#0|C:\\Victim*";
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_TRUE(machine.fileExists("C:\\Victim\\keep.txt"));
    EXPECT_TRUE(machine.fileExists("C:\\Victim\\FA9RL000.rsp"));
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP"));
    EXPECT_EQ(machine.registry().getString(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9", "Other"), "kept");
}

TEST_F(RunFolders, ALaterRunRemovesFinishedRunsOnly) {
    // A killed run: its folder and marker stay, the marker no longer held.
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    machine.makeDirs("C:\\Elsewhere\\Kept");
    machine.makeLink(kTempFolder + "FA9WOLT00000\\planted", "C:\\Elsewhere");
    // Its custom-action server ends: the system closes its handles, and the next run's
    // server starts with a fresh environment.
    winsim::closeAllKernelHandles();
    machine.environment.clear();
    machine.makeDirs(kTempFolder + "FA9WOLT00007");  // nobody's marker: not ours to judge
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(session.property("CURRENT_PROCESS_DIRECTORY"), kTempFolder + "FA9WOLT00000") << "the name is free again";
    EXPECT_TRUE(machine.dirExists("C:\\Elsewhere\\Kept")) << "a link is removed, never followed";
    // That run is live: the next one in another process leaves it alone.
    machine.environment.clear();
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_THAT(traces(), ::testing::ElementsAre("FA9WOLT00000", "FA9WOLT00000.live", "FA9WOLT00001",
                                                 "FA9WOLT00001.live", "FA9WOLT00007"));
    EXPECT_TRUE(machine.fileExists(kTempFolder + "FA9WOLT00000\\commontoolreg.exe"));
}

}  // namespace

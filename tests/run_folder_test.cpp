// What a run leaves behind: its runtime folder goes when it ends, a later run removes
// the folders of finished (killed) runs and never a live one's, and a full disk fails the
// extraction and the copies without leaving half of them.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp\\";
const std::string kSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char* const kRows[] = {"msvcm80.dll", "msvcp80.dll", "msvcr80.dll", "microsoft.vc80.crt.manifest",
                             "mfc80.dll", "mfc80u.dll", "mfcm80.dll", "mfcm80u.dll", "microsoft.vc80.mfc.manifest",
                             "fa9genreg_install3.dll", "fa9osse_install3.dll", "fa9install_install3.dll",
                             "commontoolreg.exe"};
const size_t kRowSize = 3000;

class RunFolders : public SessionTest {
protected:
    RunFolders() {
        session.setProperty("TempFolder", kTemp);
        session.setProperty("UserSID", kSid);
        machine.registry().createKey(Hive::Users, kSid + "\\SOFTWARE");
        session.database().createTable("Property", {"Property", "Value"});
        for (const char* row : kRows) session.database().addBinary(row, std::string(kRowSize, row[3]));
        std::ifstream strings(stringLibrary("en_US"), std::ios::binary);
        session.database().addBinary("FA9ISTRING_EN_US", std::string(std::istreambuf_iterator<char>(strings), {}));
    }
    // The FA9WOLT names in the temporary folder (folders and markers).
    std::vector<std::string> traces() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(kTemp))) {
            const std::string name = e.path().filename().string();
            if (name.rfind("FA9WOLT", 0) == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The custom-action server ends (killed or not): the system closes its handles, and
    // the next run's server starts with a fresh environment.
    void endProcess() {
        winsim::closeAllKernelHandles();
        machine.environment.clear();
    }
};

TEST_F(RunFolders, TheRunsFolderAndStoreGoWhenItEnds) {
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_THAT(traces(), ::testing::ElementsAre("FA9WOLT00000", "FA9WOLT00000.live"));
    // The live run holds its marker: no one can delete it.
    EXPECT_FALSE(DeleteFileA((kTemp + "FA9WOLT00000.live").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    ASSERT_TRUE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95"));
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_THAT(traces(), ::testing::IsEmpty());
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK"));
    EXPECT_TRUE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE"));
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
}

// What was there before stays: keys of the store's path, and what a record this process
// did not write (inherited, or from the user's saved variables) names.
TEST_F(RunFolders, WhatWasThereBeforeStays) {
    machine.registry().setString(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9", "Other", "kept");
    machine.writeFile("C:\\Victim\\keep.txt", "keep");
    ASSERT_EQ(run(PreProcessInstallCA), 0u);
    machine.environment["FA9WOLT_LIVE_RUNTIME"] = "1#0|C:\\Victim*";
    EXPECT_EQ(run(PostProcessInstallCA), 0u);
    EXPECT_TRUE(machine.fileExists("C:\\Victim\\keep.txt"));
    EXPECT_FALSE(machine.registry().keyExists(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9\\TEMP"));
    EXPECT_EQ(machine.registry().getString(Hive::Users, kSid + "\\SOFTWARE\\ZNK\\FA9", "Other"), "kept");
}

TEST_F(RunFolders, ALaterRunRemovesFinishedRunsOnly) {
    // A killed run: its folder and marker stay, the marker no longer held.
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    machine.makeDirs("C:\\Elsewhere\\Kept");
    machine.makeLink(kTemp + "FA9WOLT00000\\planted", "C:\\Elsewhere");
    endProcess();
    machine.makeDirs(kTemp + "FA9WOLT00007");  // nobody's marker: not ours to judge
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(session.property("CURRENT_PROCESS_DIRECTORY"), kTemp + "FA9WOLT00000") << "the name is free again";
    EXPECT_TRUE(machine.dirExists("C:\\Elsewhere\\Kept")) << "a link is removed, never followed";
    // That run is live: the next one in another process leaves it alone.
    machine.environment.clear();
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_THAT(traces(), ::testing::ElementsAre("FA9WOLT00000", "FA9WOLT00000.live", "FA9WOLT00001",
                                                 "FA9WOLT00001.live", "FA9WOLT00007"));
    EXPECT_TRUE(machine.fileExists(kTemp + "FA9WOLT00000\\commontoolreg.exe"));
}

// A volume too small for what a step writes: the step fails naming what did not fit and
// leaves no half of it behind.
TEST_F(RunFolders, AFullVolumeFailsTheRuntimeExtractionAndLeavesNothing) {
    const std::pair<unsigned long long, const char*> cases[] = {  // free bytes, what did not fit
        {100, "msvcm80.dll"}, {5 * kRowSize + 10, "mfc80u.dll"}, {13 * kRowSize + 10, "string resources"}};
    for (const auto& [freeBytes, file] : cases) {
        SCOPED_TRACE(file);
        session.clearLog();
        machine.setVolumeFreeSpace('C', freeBytes);
        EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
        EXPECT_THAT(log(), ::testing::Contains(logged(std::string("ERROR:Failed to copy ") + file +
                                                      " from the binary table of the installation")));
        EXPECT_THAT(traces(), ::testing::IsEmpty());
        EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
    }
}

TEST_F(RunFolders, AFullInstallationVolumeLeavesNoHalfAssembly) {
    installRuntime(stringLibrary("en_US"));
    const std::string install = "C:\\Tools\\";
    machine.makeDirs(install + "BIN");
    machine.makeDirs(install + "FUNCTION");
    session.setProperty("INSTALLDIR", install);
    session.database().rows("Binary").clear();  // the package: three assembly files of 1000 bytes
    for (const char* f : {"commontoolreg.exe", "msvcm80.dll", "msvcp80.dll", "microsoft.vc80.crt.manifest",
                          "mfc80u.dll", "mfcm80u.dll", "microsoft.vc80.mfc.manifest"})
        session.database().addBinary(f, "");
    for (const char* f : {"mfc80.dll", "mfcm80.dll", "msvcr80.dll"}) session.database().addBinary(f, std::string(1000, 'x'));
    machine.makeDirs("D:\\Temp");
    machine.environment["TMP"] = "D:\\Temp";  // a standard user's copy of the package's files goes there first
    machine.token.administrator = false;
    machine.setVolumeFreeSpace('C', 5500);  // BIN's two assemblies fit, FUNCTION's MFC but not its CRT
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_THAT(log(), ::testing::Contains(logged(
                           "Error: An installation step failed with result code 112. Check the preceding lines of this "
                           "log for the cause, correct it and run the installation again.")));
    EXPECT_TRUE(machine.fileExists(install + "BIN\\Microsoft.VC80.CRT\\msvcr80.dll"));
    EXPECT_FALSE(machine.dirExists(install + "FUNCTION\\Microsoft.VC80.MFC"));
    EXPECT_FALSE(machine.dirExists(install + "FUNCTION\\Microsoft.VC80.CRT"));
}

}  // namespace

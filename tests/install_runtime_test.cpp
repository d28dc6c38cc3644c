// InitializeWOLTInstallCA: the runtime directory, its contents from the Binary table, what
// is published, and every way the preparation can fail.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>

using ::testing::ElementsAre;
using namespace fa9test;

namespace {

const std::string kRuntime0 = kTempFolder + "FA9WOLT00000";
const size_t kRowSize = 2500;  // larger than the kilobyte read when the 64 KB buffer cannot be had

// Each row's bytes begin with its name, so a file written from the wrong row shows.
std::string bytesOf(const std::string& row) { return (row + ":").append(kRowSize - row.size() - 1, '.'); }

// Where each row lands below the runtime directory.
std::string placeOf(const std::string& row) {
    for (const char* file : kProgramFiles)
        if (rowOf(file) == row) return file;
    return row;
}

class RuntimeTest : public SessionTest {
protected:
    RuntimeTest() { reset(); }
    // The package, TempFolder and the volume as a run finds them, the log empty.
    void reset() {
        if (session.database().hasTable("Binary")) session.database().rows("Binary").clear();
        addRuntimeRows(session, bytesOf);
        session.setProperty("TempFolder", kTempFolder);
        session.failGetProperty("TempFolder", 0);
        session.database().available = true;
        machine.setVolumeFreeSpace('C', 1ull << 40);
        session.clearLog();
    }
    void dropRow(const std::string& name) {
        auto& rows = session.database().rows("Binary");
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const auto& r) { return r.at(0).text == name; }),
                   rows.end());
    }
    std::string stringRow(const char* locale) {
        for (const auto& row : session.database().rows("Binary"))
            if (row.at(0).text == std::string("FA9ISTRING_") + locale) return row.at(1).text;
        return "(no row)";
    }
};

// The first free name (a file or a folder of that name is skipped) is filled from the
// package and published.
TEST_F(RuntimeTest, FillsAndPublishesTheRuntimeDirectory) {
    machine.writeFile(kTempFolder + "FA9WOLT00000", "a file");
    machine.makeDirs(kTempFolder + "FA9WOLT00001");
    const std::string runtime = kTempFolder + "FA9WOLT00002";
    session.setProperty("ProductLanguage", "1031");
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    for (const std::string& row : runtimeRows())
        EXPECT_EQ(machine.readFile(runtime + "\\" + placeOf(row)), bytesOf(row)) << row;
    EXPECT_EQ(machine.readFile(runtime + "\\fa9istring_v97.dll"), stringRow("DE_DE"));
    EXPECT_EQ(session.property("CURRENT_PROCESS_DIRECTORY"), runtime);
    EXPECT_EQ(session.property("pFA9RuntimeDirectory"), runtime);
    EXPECT_EQ(session.property("PROP_RSP_PROD"), "WOLT_TOOLS");
    EXPECT_EQ(machine.currentDirectory(), runtime);
    EXPECT_THAT(log(), ::testing::IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
    EXPECT_EQ(winsim::openKernelHandleCount(), 1u) << "the marker the live run holds";
    // What programs load from it is the trusted's alone, and the installing user's only in
    // the user's own run: elevated, not even the same account's unelevated programs'.
    const std::string user = machine.token.userSid;
    for (const std::string& other : {user, std::string("S-1-5-21-1004336348-1177238915-682003330-1002")}) {
        machine.token = {other, false};
        EXPECT_FALSE(machine.tokenCanWrite(runtime + "\\version.dll")) << other;
    }
    machine.token = {user, false};
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_TRUE(machine.tokenCanWrite(session.property("CURRENT_PROCESS_DIRECTORY") + "\\version.dll"));
}

// Without a row for the product's language the English one is taken; without a product
// language the system's chooses.
TEST_F(RuntimeTest, StringRowFollowsTheLanguage) {
    session.setProperty("ProductLanguage", "1036");
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(machine.readFile(kRuntime0 + "\\fa9istring_v97.dll"), stringRow("EN_US"));
    EXPECT_THAT(log(), ElementsAre(logged("MsiViewFetch failed with return code '259'.")));
    session.removeProperty("ProductLanguage");
    machine.systemLanguage = 0x0407;
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(machine.readFile(session.property("CURRENT_PROCESS_DIRECTORY") + "\\fa9istring_v97.dll"),
              stringRow("DE_DE"));
}

// Every way the preparation fails before anything runs from the folder: 1603, the reason
// as the last log line, and nothing left behind (the held first row let go too).
TEST_F(RuntimeTest, PreparationFaultsFailTheActionWithTheirReason) {
    const std::string longTemp = "C:\\" + std::string(230, 'd') + "\\";
    const struct {
        const char* label;
        std::function<void()> arrange;
        std::string lastLine;  // its beginning
    } rows[] = {
        {"row missing", [&] { dropRow("mfcm80u.dll"); }, "ERROR:Failed to copy mfcm80u.dll from the binary"},
        {"no string row at all", [&] { dropRow("FA9ISTRING_EN_US"); dropRow("FA9ISTRING_DE_DE"); },
         "ERROR:Failed to copy string resources"},
        {"temp folder unreadable", [&] { session.failGetProperty("TempFolder", 1615); },
         "ERROR:Unable to retrieve temporary directory from the TempFolder property. Error code is 1615"},
        {"temp folder that does not exist", [&] { session.setProperty("TempFolder", "C:\\Gone\\Temp\\"); },
         "ERROR:Unable to retrieve temporary directory. Error code is 3"},
        {"temp folder too long for a name", [&] { session.setProperty("TempFolder", "C:\\" + std::string(255, 'd')); },
         "ERROR:Unable to generate a temporary directory in \"C:\\ddd"},
        // The runtime folder's name fits, the assembly folder's below it does not.
        {"temp folder too long for an assembly",
         [&] { machine.makeDirs(longTemp); session.setProperty("TempFolder", longTemp); },
         "ERROR:Failed to create directory C:\\ddd"},
        {"no active database", [&] { session.database().available = false; },
         "ERROR:Failed to get a handle to the active windows install database."},
        // A full volume: the step names what did not fit and leaves no half of it.
        {"volume full in the MFC", [&] { machine.setVolumeFreeSpace('C', 5 * kRowSize + 10); },
         "ERROR:Failed to copy mfc80u.dll from the binary table"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        reset();
        row.arrange();
        EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
        ASSERT_FALSE(log().empty());
        EXPECT_THAT(log().back(), ::testing::StartsWith("1: " + row.lastLine));
        EXPECT_FALSE(machine.dirExists(kRuntime0)) << "a failed preparation leaves no runtime folder";
        EXPECT_FALSE(machine.fileExists(kRuntime0 + ".live"));
        EXPECT_FALSE(session.hasProperty("CURRENT_PROCESS_DIRECTORY"));
        EXPECT_EQ(winsim::openMsiHandleCount() + winsim::openKernelHandleCount(), 0u);
    }
}

TEST_F(RuntimeTest, PropertyWritesThatFail) {
    session.failSetProperty("CURRENT_PROCESS_DIRECTORY", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(InitializeWOLTInstallCA), 0u);
    session.failSetProperty("PROP_RSP_PROD", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
    EXPECT_THAT(log(), ElementsAre(logged("Failed to set CURRENT_PROCESS_DIRECTORY to " + kRuntime0),
                                   logged("Failed to set CURRENT_PROCESS_DIRECTORY to " + kTempFolder + "FA9WOLT00001"),
                                   logged("Failed to set PROP_RSP_PROD to WOLT_TOOLS")));
}

// A name below the runtime directory made by someone else between the folder's creation
// and the extraction (the installing user may write there): refused, nothing more made.
TEST_F(RuntimeTest, ANameTakenBelowTheRuntimeDirectoryIsRefusedWith7113) {
    const std::pair<const char*, bool> rows[] = {  // the name, planted as a folder (else as a file)
        {"Microsoft.VC80.CRT", true}, {"commontoolreg.exe", false}, {"fa9istring_v97.dll", false}};
    for (const auto& row : rows) {
        const char* const name = row.first;  // plain names: a lambda may not capture a structured binding in C++17
        const bool asFolder = row.second;
        SCOPED_TRACE(name);
        session.clearLog();
        machine.messageBoxes.clear();
        session.installerBoxes.clear();
        std::string runtime, planted;
        machine.onDirectoryCreated = [&](const std::string& path) {
            if (!runtime.empty() || path.rfind(kTempFolder + "FA9WOLT", 0) != 0) return;
            runtime = path;
            planted = path + "\\" + name;
            asFolder ? machine.makeDirs(planted) : machine.writeFile(planted, "planted");
        };
        EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
        EXPECT_THAT(log(), ElementsAre(::testing::HasSubstr("The name " + planted + " that the installation needs")));
        EXPECT_EQ(machine.messageBoxes.size() + session.installerBoxes.size(), 1u);
        if (!asFolder) { EXPECT_EQ(machine.readFile(planted), "planted"); }
        if (asFolder) { EXPECT_FALSE(machine.fileExists(runtime + "\\commontoolreg.exe")); }
        EXPECT_FALSE(session.hasProperty("CURRENT_PROCESS_DIRECTORY"));
        EXPECT_EQ(winsim::openKernelHandleCount() + winsim::openMsiHandleCount(), 0u);
    }
}

}  // namespace

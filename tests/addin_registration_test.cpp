// The add-in registration, its removal and the provider check, each driving the
// registration stand-in program through every exit code the actions give a meaning.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <functional>

using namespace fa9test;
using ::testing::StartsWith;

namespace {

using Action = UINT(WINAPI*)(MSIHANDLE);
using S = winsim::Session;
const Action kRegister = RegisterWOLTKeysCA, kRemove = RemoveWOLTKeysCA, kDetect = DetectDotNetDataProviderInstalledCA;
const char* kProviderMissing = "The FA9 .NET data provider was not found on this computer.\n\rThe installation of ";

// What each action makes of the registration program's answers: registering
// (/commontoolinstall) and removing (/commontooluninstall) report the codes they know and
// never stop (removal's locked and unknown codes are registering's twins); the provider
// check confirms the provider on 9 alone and stops otherwise.
// The program's output is traced whenever an answer is chosen for it here (none is 9 or
// the provider's own "not found", 10); a box shows only with the full interface.
TEST(Registration, AnswersAreReportedAndTraced) {
    const struct {
        const char* label;
        Action action;
        int code;  // the program's exit code; -1: its own answer
        UINT rc;
        const char* report;            // the report's start after "Error: "; null: none
        bool inCache = false;          // the provider's assembly folder exists
        const char* uiLevel = "5";
    } rows[] = {
        {"no Visual Studio", kRegister, 2, 0, "Add-ins for Visual Studio requires Microsoft"},
        {"registration failed", kRegister, 6, 0, "The add-ins of Add-ins for Visual Studio could not be registered"},
        {"configuration locked", kRegister, 7, 0, "The Visual Studio configuration is in use by another program"},
        {"other code traced only", kRegister, 5, 0, nullptr},
        {"unregistration failed", kRemove, 3, 0, "The add-ins of Add-ins for Visual Studio could not be unregistered"},
        {"settings left behind", kRemove, 8, 0, "Some Visual Studio settings of Add-ins for Visual Studio could not"},
        {"provider present", kDetect, -1, 0, nullptr, true},
        {"provider missing", kDetect, -1, 1603, kProviderMissing},
        {"zero is no answer; no box without the full interface", kDetect, 0, 1603, kProviderMissing, true, "2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<RegistrationTest> t;
        const std::string command = row.action == kRegister ? "/commontoolinstall"
                                    : row.action == kRemove ? "/commontooluninstall" : "/checkprovider";
        const std::string code = std::to_string(row.code);
        if (row.inCache) t.machine.makeDirs("C:\\Windows\\assembly\\GAC_MSIL\\FA9.Data.Provider");
        if (row.code >= 0)
            t.machine.writeFile("C:\\ProgramData\\FA9StandIns\\exitcodes.txt",
                                "commontoolreg " + command + " " + code + "\n");
        t.session.setProperty("UILevel", row.uiLevel);
        EXPECT_EQ(t.run(row.action), row.rc);
        std::vector<::testing::Matcher<std::string>> expected;
        if (row.code >= 0)
            expected = {StartsWith("1: Error: commontoolreg: "),
                        logged("Error: commontoolreg: exit code " + code + " chosen for " + command + "\n")};
        if (row.report)  // the provider check's comes after the trace, the others' before it
            expected.insert(row.action == kDetect ? expected.end() : expected.begin(),
                            StartsWith("1: Error: " + std::string(row.report)));
        EXPECT_THAT(t.log(), ::testing::ElementsAreArray(expected));
        EXPECT_EQ(t.machine.messageBoxes.size(), row.report && *row.uiLevel == '5' ? 1u : 0u);
    }
}

// What is found wrong before the program would run: each action's result (kNotRun for
// an action that does not read what is wrong), its report, and nothing launched.
TEST(Registration, RefusalsAreReportedAndNothingRuns) {
    const UINT kNotRun = ~0u;
    const std::string longDir = "C:\\Program Files\\" + std::string(200, 'd');
    const struct {
        const char* label;
        std::function<void(S&)> arrange;
        UINT results[3];     // of register, remove, detect
        std::string report;  // a line's start after "Error: "
        bool unconfirmed = false;  // the provider check then also says the provider is missing
    } rows[] = {
        // The script's copy is written from the package's row alone; the provider check runs
        // the runtime folder's, elevated only where no one but the trusted could change it
        // (here the account's own, which its unelevated programs share).
        {"package without the program",  // the first row (putProgramFiles)
         [](S& s) { s.database().rows("Binary").erase(s.database().rows("Binary").begin()); },
         {1603, 1603, kNotRun}, "The installation package's record of commontoolreg.exe"},
        {"runtime folder without the program",
         [](S&) { DeleteFileA((std::string(kRuntimeDir) + "\\commontoolreg.exe").c_str()); },
         {kNotRun, kNotRun, 1603}, kProviderMissing},
        {"runtime folder the installing account's",
         [](S& s) {
             const std::string user = s.machine().token.userSid;
             s.machine().setAccessList(kRuntimeDir, {user, true, {{winsim::kSidSystem}, {user}}});
         },
         {kNotRun, kNotRun, 1603}, std::string(kRuntimeDir) + " can be changed by users other than administrators"},
        {"assembly folder open to users",
         [](S& s) {
             s.machine().setAccessList(std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT",
                                       {winsim::kSidAdministrators, false, {{winsim::kSidUsers}}});
         },
         {kNotRun, kNotRun, 1603},
         std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT can be changed by users other than administrators"},
        {"unreadable INSTALLDIR", [](S& s) { s.failGetProperty("INSTALLDIR", 1615); },
         {0, kNotRun, kNotRun}, "The installer property INSTALLDIR could not be read."},
        {"unreadable runtime folder", [](S& s) { s.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615); },
         {0, 0, 1615}, "The installer property CURRENT_PROCESS_DIRECTORY could not be read."},
        {"command too long", [&](S& s) { s.machine().makeDirs(longDir), s.setProperty("INSTALLDIR", longDir); },
         {0, kNotRun, kNotRun}, "The command " + std::string(kRuntimeDir) + "\\commontoolreg.exe /commontoolinstall"},
        {"quote in INSTALLDIR", [](S& s) { s.setProperty("INSTALLDIR", "C:\\FA9 \"Tools\""); },
         {1603, kNotRun, kNotRun}, "The value C:\\FA9 \"Tools\" of INSTALLDIR holds a double quote"},
        {"quote in the runtime folder", [](S& s) { s.setProperty("CURRENT_PROCESS_DIRECTORY", "C:\\Temp\\\"x\""); },
         {1603, 1603, 1603}, "The value C:\\Temp\\\"x\" of CURRENT_PROCESS_DIRECTORY holds a double quote"},
        {"relative runtime folder", [](S& s) { s.setProperty("CURRENT_PROCESS_DIRECTORY", "Temp\\FA9WOLT00000"); },
         {0, 0, 1603}, "The folder Temp\\FA9WOLT00000 given by CURRENT_PROCESS_DIRECTORY is empty", true},
    };
    const Action actions[] = {kRegister, kRemove, kDetect};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<RegistrationTest> t;
        row.arrange(t.session);
        for (size_t i = 0; i < 3; ++i) {
            if (row.results[i] == kNotRun) continue;
            SCOPED_TRACE(i);
            t.session.clearLog();
            EXPECT_EQ(t.run(actions[i]), row.results[i]);
            EXPECT_THAT(t.log(), ::testing::Contains(StartsWith("1: Error: " + row.report)));
            if (row.unconfirmed && i == 2) {
                EXPECT_THAT(t.log().back(), StartsWith("1: Error: " + std::string(kProviderMissing)));
            }
        }
        EXPECT_TRUE(t.machine.launches().empty());
    }
}

// A program that cannot start (a Windows image, which the host cannot run) is reported by
// registering and stops neither registering nor removing; the provider is not confirmed.
TEST_F(RegistrationTest, AProgramThatCannotStartStopsNeitherRegisteringNorRemoving) {
    session.database().rows("Binary")[0][1].text = std::string("MZ\x90\0", 4);  // the program's (putProgramFiles)
    EXPECT_EQ(run(kRegister), 0u);
    EXPECT_THAT(log(), ::testing::ElementsAre(StartsWith("1: Error: The command " + std::string(kRuntimeDir))));
    EXPECT_EQ(run(kRemove), 0u);
    EXPECT_EQ(run(kDetect), 1603u);
}

// The program's path is quoted whole, even in a folder named like a program; INSTALLDIR
// loses one trailing backslash, and the one left before the closing quote is doubled so
// that the program reads one. An elevated administrator's copy goes to the system's
// temporary folder, which the administrator's unelevated programs cannot rename away.
TEST_F(RegistrationTest, TheProgramAndInstallDirReachTheCommandLineIntact) {
    const std::string folder = "C:\\Setup\\a.exec";  // where a standard user's copy is made
    machine.makeDirs(folder);
    machine.environment["TMP"] = folder;
    machine.makeDirs("C:\\Program Files\\Tools");
    session.setProperty("INSTALLDIR", "C:\\Program Files\\Tools\\\\");
    for (const bool administrator : {false, true}) {
        machine.token.administrator = administrator;
        EXPECT_EQ(run(RegisterWOLTKeysCA), 0u);
        const auto launches = machine.launches();
        ASSERT_FALSE(launches.empty());
        EXPECT_THAT(launches.back().commandLine,
                    ::testing::MatchesRegex(std::string(administrator ? "\"C:.Windows.Temp" : "\"C:.Setup.a\\.exec") +
                                            ".FA9RUN[0-9a-f]{16}.commontoolreg\\.exe\" "
                                            "/commontoolinstall -DINSTALLDIR=\"C:.Program Files.Tools..\""));
    }
    EXPECT_EQ(machine.readFile("C:\\ProgramData\\FA9StandIns\\addins.txt"), "INSTALLDIR=C:\\Program Files\\Tools\\\n");
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

}  // namespace

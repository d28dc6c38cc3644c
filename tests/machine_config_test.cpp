// The programs that register the product with the machine and its IDEs: macConfigChange.exe
// below INSTALLDIR (un)registering the tools folder, the registry editor's import before the
// COM code base is written, and the IDEs' runs at installation and at a full removal.
#include "actions/exports.h"
#include "fixture.h"
#include "platform/scoped_handles.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace fa9test;
using winsim::Hive;

namespace {

using M = winsim::Machine;
using S = winsim::Session;
using Action = UINT(WINAPI*)(MSIHANDLE);

const char* kState = "C:\\ProgramData\\FA9StandIns\\";
const char* kProgram = "C:\\Program Files\\FA9 Tools\\bin\\macConfigChange.exe";
const char* kClassKey = "CLSID\\{49921198-B717-4EA7-8D45-80CCC1867264}\\InprocServer32\\0.0.0.0";
const char* kRuntime = "C:\\Users\\setup\\AppData\\Local\\Temp\\FA9 Runtime";
const std::string kScript = std::string(kRuntime) + "\\ZNK.WOLT.Install.reg";
const char* kEditor32 = "C:\\Windows\\SysWOW64\\regedit.exe";
const char* kEditor64 = "C:\\Windows\\regedit.exe";
const char* kVs80 = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE\\";
const char* kVs90 = "C:\\Program Files\\Microsoft Visual Studio 9.0\\Common7\\IDE\\";

// Every program the three actions run in its place: the tools program below INSTALLDIR,
// both registry editors with the script for them in the runtime folder, both IDEs.
class MachineConfig : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(FA9_STANDINS_DIR "/macconfigchange", kProgram);
        for (const char* editor : {kEditor32, kEditor64}) machine.copyFileIn(FA9_CHILDREN_DIR "/regedit", editor);
        machine.writeFile(kScript, "REGEDIT4\n");
        for (const char* dir : {kVs80, kVs90})
            machine.copyFileIn(FA9_STANDINS_DIR "/devenv", dir + std::string("devenv.exe"));
        session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools\\");
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntime);
        session.setProperty("VS80_INSTALLDIR", kVs80);
        session.setProperty("VS90_INSTALLDIR", kVs90);
        session.setProperty("UILevel", "5");
    }
    // What the stand-ins wrote into a file of their state folder; "" when nothing.
    std::string state(const std::string& name) {
        const std::string path = kState + name;
        return machine.fileExists(path) ? machine.readFile(path) : "";
    }
};

TEST_F(MachineConfig, RegisterAndUnregisterTheToolsFolder) {
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 0u);
    session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools");
    EXPECT_EQ(run(UnregisterWOLTMachineCfgCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty()) << "success leaves no report and no trace";
    const auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].commandLine,
              "\"" + std::string(kProgram) + "\" -toolspath \"C:\\Program Files\\FA9 Tools\\bin\"");
    EXPECT_EQ(launches[1].commandLine, "\"" + std::string(kProgram) + "\" -unregister");
}

// Every failure stops its action (1603, or the failed read's own code) and says why in
// the log, with a box only where the user can act on it; no program runs where its path
// cannot be built, and the COM registration leaves no CodeBase. In the script (as SYSTEM)
// the tools program runs only where no one but SYSTEM, the administrators and the
// account the script runs as can change it or its folders; an immediate run is the
// user's own and is not checked.
struct Outcome {
    const char* name;
    Action action;
    void (*arrange)(M&, S&);
    UINT rc;
    std::string line;  // a line of the log, up to where it varies; "": no log at all
    size_t runs;       // programs started
    size_t boxes;
};
void PrintTo(const Outcome& c, std::ostream* os) { *os << c.name; }

class ProgramRuns : public MachineConfig, public ::testing::WithParamInterface<Outcome> {};

TEST_P(ProgramRuns, RunOrStopWithTheirReport) {
    const Outcome& c = GetParam();
    c.arrange(machine, session);
    EXPECT_EQ(run(c.action), c.rc);
    if (c.line.empty()) {
        EXPECT_THAT(log(), ::testing::IsEmpty()) << "success leaves no report and no trace";
    } else {
        EXPECT_THAT(log(), ::testing::Contains(::testing::StartsWith("1: " + c.line)));
    }
    EXPECT_EQ(machine.launches().size(), c.runs);
    EXPECT_EQ(machine.messageBoxes.size(), c.boxes);
    if (c.action == RegCOMForCSFunctionsCA) {
        EXPECT_EQ(machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"), std::nullopt);
    }
}

const Action kRegister = RegisterWOLTMachineCfgCA;
const Action kCom = RegCOMForCSFunctionsCA;
const std::string kTooLong = "C:\\" + std::string(250, 'p');
const char* kOpen = "C:\\Tools\\FA9\\";  // below the root: signed-in users may change it
const DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
const char* kOtherUser = "S-1-5-21-1004336348-1177238915-682003330-1009";

// The program below `dir`, run in the script unless told otherwise.
void placeIn(M& m, S& s, const char* dir, bool script = true) {
    m.copyFileIn(std::string(FA9_STANDINS_DIR) + "/macconfigchange", dir + std::string("bin\\macConfigChange.exe"));
    s.setProperty("INSTALLDIR", dir);
    if (!script) return;
    s.setRunMode(winsim::RunMode::Scheduled);
    s.setProperty("CustomActionData", std::string("INSTALLDIR=") + dir);
    m.runAsSystem();
}
void lockOpen(M& m) {  // as an administrator would, shutting one user out entirely
    m.setAccessList(kOpen, {winsim::kSidAdministrators, true,
                            {{kOtherUser, false, true, GENERIC_ALL},
                             {winsim::kSidSystem, true, true, FILE_ALL_ACCESS},
                             {winsim::kSidAdministrators, true, true, FILE_ALL_ACCESS},
                             {winsim::kSidUsers, true, true, kReadExecute}}});
}
std::string refused(const std::string& path) {
    return "Error: " + path + " can be changed by users other than administrators, so the installation does not run";
}

INSTANTIATE_TEST_SUITE_P(
    Config, ProgramRuns,
    ::testing::Values(
        Outcome{"non_zero_exit_when_unregistering", UnregisterWOLTMachineCfgCA,
                [](M& m, S&) { m.writeFile(std::string(kState) + "exitcodes.txt", "macConfigChange -unregister 5\n"); },
                1603u, "Error: " + std::string(kProgram) + " failed with return code 5.", 1, 1},
        Outcome{"folder_in_the_programs_place", kRegister,
                [](M& m, S&) { DeleteFileA(kProgram); m.makeDirs(kProgram); }, 1603u,
                "Error: The program " + std::string(kProgram) + " was not found.", 0, 1},
        // A Windows image the host cannot start: the run fails, not the file check.
        Outcome{"program_that_cannot_run", kRegister,
                [](M& m, S&) { m.writeFile(kProgram, std::string("MZ\x90\0", 4)); }, 1603u,
                "Error: The command " + std::string(kProgram) +
                    " -toolspath \"C:\\Program Files\\FA9 Tools\\bin\" could not be run to completion.",
                0, 1},
        Outcome{"unreadable_install_dir", kRegister, [](M&, S& s) { s.failGetProperty("INSTALLDIR", 1615); }, 1615u,
                "Error: The installer property INSTALLDIR could not be read.", 0, 0},
        Outcome{"install_dir_too_long", kRegister, [](M&, S& s) { s.setProperty("INSTALLDIR", kTooLong); }, 1603u,
                "Error: The folder " + kTooLong + " given by INSTALLDIR is empty, not a full path, or too long", 0, 0},
        Outcome{"quote_in_install_dir", kRegister, [](M&, S& s) { s.setProperty("INSTALLDIR", "C:\\FA9 \"Tools\"\\"); },
                1603u, "Error: The value C:\\FA9 \"Tools\"\\ of INSTALLDIR holds a double quote", 0, 0},
        // A host program that starts one of its own, and neither ends by itself.
        Outcome{"past_the_time_limit", kRegister,
                [](M& m, S& s) {
                    m.writeFile(kProgram, "#!/bin/sh\n/bin/sleep 600 &\nexec /bin/sleep 600\n");
                    s.setProperty("FA9_PROGRAM_TIMEOUT", "1");
                },
                1603u,
                "Error: The program " + std::string(kProgram) +
                    " was still running after 1 seconds and was ended together with every process it started.",
                1, 0},
        Outcome{"script_below_program_files", kRegister,
                [](M& m, S& s) { placeIn(m, s, "C:\\Program Files\\FA9 Tools\\"); }, 0u, "", 1, 0},
        Outcome{"script_below_the_root", kRegister, [](M& m, S& s) { placeIn(m, s, kOpen); }, 1603u,
                refused("C:\\Tools\\FA9"), 0, 0},
        // A standard user's own run is not checked: it acts for no one else.
        Outcome{"standard_user_below_the_root", kRegister,
                [](M& m, S& s) { placeIn(m, s, kOpen, false); m.token = {kOtherUser, false}; }, 0u, "", 1, 0},
        Outcome{"script_below_the_root_locked", kRegister, [](M& m, S& s) { placeIn(m, s, kOpen); lockOpen(m); }, 0u,
                "", 1, 0},
        // The folder above the locked one is the users': renaming it away (to put a link
        // in its place) between the check and the start fails while the program runs.
        Outcome{"script_folder_above_renamed_before_the_start", kRegister,
                [](M& m, S& s) {
                    placeIn(m, s, kOpen);
                    lockOpen(m);
                    m.onProcessStart = [](const std::string&) { MoveFileExA("C:\\Tools", "C:\\Moved", 0); };
                },
                0u, "", 1, 0},
        Outcome{"script_locked_but_owned_by_a_user", kRegister,
                [](M& m, S& s) { placeIn(m, s, kOpen); lockOpen(m); m.setOwner(kOpen, kOtherUser); }, 1603u,
                refused("C:\\Tools\\FA9"), 0, 0},
        Outcome{"script_bin_open_to_everyone", kRegister,
                [](M& m, S& s) {
                    placeIn(m, s, kOpen);
                    lockOpen(m);
                    m.setAccessList(kOpen + std::string("bin"), {"", false, {{winsim::kSidEveryone}}});
                },
                1603u, refused("C:\\Tools\\FA9\\bin"), 0, 0},
        Outcome{"script_program_writable_by_users", kRegister,
                [](M& m, S& s) {
                    placeIn(m, s, "C:\\Program Files\\FA9 Tools\\");
                    m.setAccessList(kProgram, {"", false, {{winsim::kSidUsers, true, false, FILE_GENERIC_WRITE}}});
                },
                1603u, refused(kProgram), 0, 0},
        // Locked folders all, but the path leads through a link to another one.
        Outcome{"script_reached_through_a_link", kRegister,
                [](M& m, S& s) {
                    placeIn(m, s, "C:\\Program Files\\Via Link\\");
                    std::filesystem::rename(m.hostPath("C:\\Program Files\\Via Link"),
                                            m.hostPath("C:\\Program Files\\Real Tools"));
                    m.makeLink("C:\\Program Files\\Via Link", "C:\\Program Files\\Real Tools");
                },
                1603u, refused("C:\\Program Files\\Via Link"), 0, 0},
        // Under Wine the script runs as the prefix's user, who owns the files; others may
        // read them when the "other" mode bits say so.
        Outcome{"script_as_under_wine", kRegister,
                [](M& m, S& s) {
                    placeIn(m, s, kOpen);
                    m.token = M::Token{};
                    m.setAccessList(kOpen, {m.token.userSid, true,
                                            {{winsim::kSidSystem, true, true, FILE_ALL_ACCESS},
                                             {m.token.userSid, true, true, FILE_ALL_ACCESS},
                                             {winsim::kSidEveryone, true, true, kReadExecute}}});
                },
                0u, "", 1, 0},
        // The COM code base: an import that fails is traced, and so is its output.
        Outcome{"failed_import_is_traced", kCom, [](M& m, S&) { m.writeFile(kScript, "exit=1\n"); }, 1603u,
                "Error: regedit: imported " + kScript + "\n", 1, 0},
        Outcome{"no_registry_editor", kCom, [](M& m, S&) { m.writeFile(kEditor32, std::string("MZ", 2)); }, 1603u,
                "Error: The command " + std::string(kEditor32) + " -s \"" + kScript +
                    "\" could not be run to completion.",
                0, 1},
        Outcome{"value_cannot_be_written", kCom, [](M& m, S&) { m.registry().denyWrite(Hive::ClassesRoot, kClassKey); },
                1603u,
                "Error: The registry value " + std::string(kClassKey) + "\\CodeBase could not be set to "
                "file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\ZNK.WOLT.Install.dll.",
                1, 0},
        Outcome{"unreadable_runtime_directory", kCom,
                [](M&, S& s) { s.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615); }, 1615u,
                "Error: The installer property CURRENT_PROCESS_DIRECTORY could not be read.", 0, 0},
        // An import that takes the runtime folder away leaves no short form to point at.
        Outcome{"no_short_form_after_the_import", kCom, [](M& m, S&) { m.writeFile(kScript, "delete-folder\n"); },
                1603u, "Failed to generate shortname", 1, 0}),
    [](const ::testing::TestParamInfo<Outcome>& i) { return std::string(i.param.name); });

// A folder above the program that another process holds, sharing nothing, cannot be held
// against a rename: the program is not run.
TEST_F(MachineConfig, AFolderAboveTheProgramThatCannotBeHeldStopsTheRun) {
    placeIn(machine, session, "C:\\Program Files\\Held\\FA9\\");
    unique_hfile other(CreateFileA("C:\\Program Files\\Held", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(other);
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1603u);
    EXPECT_THAT(log(), ::testing::Contains(::testing::StartsWith(
                           "1: " + refused("C:\\Program Files\\Held"))));
    EXPECT_TRUE(machine.launches().empty());
}

// Windows' own editor in the process's bitness imports the script, never one of that
// name in the current directory (the runtime folder, which the installing user can write).
TEST_F(MachineConfig, ImportsTheScriptThenWritesAShortCodeBase) {
    machine.copyFileIn(FA9_CHILDREN_DIR "/regedit", std::string(kRuntime) + "\\regedit.exe");
    machine.setCurrentDirectory(kRuntime);
    for (const bool wow64 : {true, false}) {
        SCOPED_TRACE(wow64 ? "32-bit" : "64-bit");
        machine.wow64Process = wow64;
        machine.registry().setString(Hive::ClassesRoot, kClassKey, "CodeBase", "file:///old");
        const size_t before = machine.launches().size();
        EXPECT_EQ(run(RegCOMForCSFunctionsCA), 0u);
        EXPECT_EQ(machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"),
                  "file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\ZNK.WOLT.Install.dll");
        const auto launches = machine.launches();
        ASSERT_EQ(launches.size(), before + 1);
        const std::string editor = wow64 ? kEditor32 : kEditor64;
        EXPECT_EQ(launches.back().commandLine, "\"" + editor + "\" -s \"" + kScript + "\"");
        EXPECT_EQ(launches.back().program, editor);
    }
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

// ---------------------------------------------------------------- the IDEs

const std::string setup80 = std::string(kVs80) + "\\devenv.exe /setup";
const std::string setup90 = std::string(kVs90) + "\\devenv.exe /setup";
const std::string refresh90 = std::string(kVs90) + "\\devenv.exe /Command Tools.InstallCommunityControls";

// Which runs the removal state and the IDE folders lead to. A folder not set or faulty
// skips what needs it; only a quote, which would split the command line, stops the action.
struct IdeCase {
    const char* name;
    const char* remove;  // REMOVE, "" when not set
    void (*arrange)(S&);
    UINT rc;
    std::vector<std::string> runs;
    std::vector<std::string> log;  // without the "1: " framing
};
void PrintTo(const IdeCase& c, std::ostream* os) { *os << c.name; }

class IdeRuns : public MachineConfig, public ::testing::WithParamInterface<IdeCase> {};

TEST_P(IdeRuns, FollowTheRemovalStateAndTheFolders) {
    const IdeCase& c = GetParam();
    if (*c.remove) session.setProperty("REMOVE", c.remove);
    c.arrange(session);
    EXPECT_EQ(run(SetupWOLTTemplateCA), c.rc);
    std::vector<std::string> runs;
    std::istringstream text(state("devenv.log"));
    for (std::string line; std::getline(text, line);) runs.push_back(line);
    EXPECT_EQ(runs, c.runs);
    std::vector<std::string> expected;
    for (const std::string& line : c.log) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.launches().size(), c.runs.size()) << "no attempt at a program without its folder";
    EXPECT_TRUE(machine.messageBoxes.empty());
}

const std::string kExecFolder = "C:\\Program Files\\VS\\a.exec\\";
const char* kReadFailed = "iMsiGetProperty failed with return code '1615'.";
std::string notSet(const std::string& property) {
    return "Information: The folder property " + property + " is not set, so the program run that needs it is skipped.";
}
std::string unreadable(const std::string& property) {
    return "Error: The installer property " + property + " could not be read.";
}

INSTANTIATE_TEST_SUITE_P(
    Ide, IdeRuns,
    ::testing::Values(
        IdeCase{"installation_whatever_the_ides_exit_codes", "",
                [](S& s) { s.machine().writeFile(std::string(kState) + "exitcodes.txt", "devenv /setup 1\n"); },
                0u, {setup80, setup90}, {}},
        IdeCase{"neither_ide_installed", "",
                [](S& s) { s.setProperty("VS80_INSTALLDIR", ""); s.setProperty("VS90_INSTALLDIR", "___NotSet___"); },
                0u, {}, {notSet("VS80_INSTALLDIR"), notSet("VS90_INSTALLDIR")}},
        IdeCase{"an_ide_folder_named_like_a_program_runs_its_ide", "",
                [](S& s) {
                    s.machine().copyFileIn(std::string(FA9_STANDINS_DIR) + "/devenv", kExecFolder + "devenv.exe");
                    s.setProperty("VS80_INSTALLDIR", kExecFolder);
                },
                0u, {kExecFolder + "\\devenv.exe /setup", setup90}, {}},
        IdeCase{"feature_removal", "Templates,Controls", [](S&) {}, 0u, {setup80, setup90}, {}},
        IdeCase{"full_removal_in_any_case_refreshes_the_controls", "All", [](S&) {}, 0u, {setup80, setup90, refresh90},
                {}},
        IdeCase{"relative_folder_skips_its_runs", "ALL",
                [](S& s) { s.setProperty("VS80_INSTALLDIR", "Common7\\IDE\\"); }, 0u, {setup90, refresh90},
                {"Error: The folder Common7\\IDE\\ given by VS80_INSTALLDIR is empty, not a full path, or too long, "
                 "so no program is run from it. Correct the value and run the installation again."}},
        IdeCase{"a_quote_stops_before_any_run", "ALL", [](S& s) { s.setProperty("VS80_INSTALLDIR", "C:\\VS \"8\"\\"); },
                1603u, {},
                {"Error: The value C:\\VS \"8\"\\ of VS80_INSTALLDIR holds a double quote and cannot be put on a "
                 "command line. Correct the value and run the installation again."}},
        IdeCase{"unreadable_2005_folder", "ALL", [](S& s) { s.failGetProperty("VS80_INSTALLDIR", 1615); }, 0u,
                {setup90, refresh90}, {kReadFailed, unreadable("VS80_INSTALLDIR")}},
        IdeCase{"unreadable_2008_folder_means_no_refresh", "ALL",
                [](S& s) { s.failGetProperty("VS90_INSTALLDIR", 1615); }, 0u, {setup80},
                {kReadFailed, unreadable("VS90_INSTALLDIR")}},
        IdeCase{"unreadable_removal_state_means_no_refresh", "ALL", [](S& s) { s.failGetProperty("REMOVE", 1615); },
                0u, {setup80, setup90}, {kReadFailed, unreadable("REMOVE")}}),
    [](const ::testing::TestParamInfo<IdeCase>& i) { return std::string(i.param.name); });

}  // namespace

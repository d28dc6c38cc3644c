// The add-in registration, its removal and the provider check, each driving the
// registration stand-in program through every exit code the actions give a meaning.
#include "actions/exports.h"
#include "fixture.h"
#include "runtime/program_copy.h"
#include "winsim/package_copy.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <regex>

using namespace fa9test;
using ::testing::StartsWith;

namespace {

using M = winsim::Machine;
using S = winsim::Session;
using Action = UINT(WINAPI*)(MSIHANDLE);
const Action kRegister = RegisterWOLTKeysCA, kRemove = RemoveWOLTKeysCA, kDetect = DetectDotNetDataProviderInstalledCA;

const char* kInstallDir = "C:\\Program Files\\FA9 Tools\\";
const char* kState = "C:\\ProgramData\\FA9StandIns\\";

// The registration program's lines as the trace writes them into the log.
std::string traced(const std::string& output) { return logged("Error: " + output); }

// The registration program and the assemblies beside it, by their place below the
// runtime folder; each file's Binary row is its name.
const std::vector<std::string> kProgramFiles = {
    "commontoolreg.exe", "Microsoft.VC80.CRT\\msvcm80.dll", "Microsoft.VC80.CRT\\msvcp80.dll",
    "Microsoft.VC80.CRT\\msvcr80.dll", "Microsoft.VC80.CRT\\microsoft.vc80.crt.manifest",
    "Microsoft.VC80.MFC\\mfc80.dll", "Microsoft.VC80.MFC\\mfc80u.dll", "Microsoft.VC80.MFC\\mfcm80.dll",
    "Microsoft.VC80.MFC\\mfcm80u.dll", "Microsoft.VC80.MFC\\microsoft.vc80.mfc.manifest"};
// The package's rows and the runtime folder the extraction made of them: the program
// runs from a copy written from the rows.
class StandInTest : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.makeDirs(kInstallDir);  // installed by then: the program is handed it held
        machine.copyFileIn(FA9_STANDINS_DIR "/commontoolreg", std::string(kRuntimeDir) + "\\commontoolreg.exe");
        for (const std::string& file : kProgramFiles) {
            const std::string path = std::string(kRuntimeDir) + "\\" + file;
            if (file != kProgramFiles[0]) machine.writeFile(path, "assembly file " + file);
            session.database().addBinary(file.substr(file.rfind('\\') + 1), machine.readFile(path));
        }
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
        session.setProperty("ProductName", "Add-ins for Visual Studio");
        session.setProperty("INSTALLDIR", kInstallDir);
        session.setProperty("UILevel", "5");
    }
    // Makes the stand-in answer `code` to `command` instead of its own answer.
    void chooseExitCode(const std::string& command, int code) {
        machine.writeFile(std::string(kState) + "exitcodes.txt",
                          "commontoolreg " + command + " " + std::to_string(code) + "\n");
    }
};

const char* kProviderMissing =
    "Error: The FA9 .NET data provider was not found on this computer.\n\rThe installation of Add-ins for Visual "
    "Studio cannot continue. Install the FA9 .NET data provider, then run this installation again.";
const char* kLocked = "Error: The Visual Studio configuration is in use by another program and could not be changed.";

// What each action makes of the registration program's answers: registering
// (/commontoolinstall) and removing (/commontooluninstall) report the codes they know and
// never stop; the provider check confirms the provider on 9 alone and stops otherwise.
// The program's output is traced whenever an answer is chosen for it here (none is 9 or
// the provider's own "not found", 10); a box shows only with the full interface.
struct Answer {
    const char* name;
    Action action;
    int code;  // the program's exit code; -1: its own answer
    UINT rc;
    const char* report;        // the report's start; null: none
    bool inCache = false;      // the provider's assembly folder exists
    const char* uiLevel = "5";
};
void PrintTo(const Answer& c, std::ostream* os) { *os << c.name; }

class Answers : public StandInTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(Answers, AreReportedAndTraced) {
    const Answer& c = GetParam();
    const bool install = c.action == kRegister, removal = c.action == kRemove;
    const std::string command = install ? "/commontoolinstall" : removal ? "/commontooluninstall" : "/checkprovider";
    if (c.inCache) machine.makeDirs("C:\\Windows\\assembly\\GAC_MSIL\\FA9.Data.Provider");
    if (c.code >= 0) chooseExitCode(command, c.code);
    session.setProperty("UILevel", c.uiLevel);
    EXPECT_EQ(run(c.action), c.rc);
    std::vector<::testing::Matcher<std::string>> expected;
    if (c.code >= 0) {  // the trailing backslash of INSTALLDIR does not reach the program
        expected.push_back(traced(install    ? "commontoolreg: add-ins registered for C:\\Program Files\\FA9 Tools\n"
                                  : removal  ? "commontoolreg: add-in registration removed\n"
                                  : c.inCache ? "commontoolreg: .NET data provider found\n"
                                              : "commontoolreg: .NET data provider not found\n"));
        expected.push_back(traced("commontoolreg: exit code " + std::to_string(c.code) + " chosen for " + command +
                                  "\n"));
    }
    // The provider check says the provider is missing after the trace, the others report
    // before it.
    if (c.report) {
        const auto at = c.action == kDetect ? expected.end() : expected.begin();
        expected.insert(at, StartsWith("1: " + std::string(c.report)));
    }
    EXPECT_THAT(log(), ::testing::ElementsAreArray(expected));
    EXPECT_EQ(machine.messageBoxes.size(), c.report && c.uiLevel == std::string("5") ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, Answers,
    ::testing::Values(
        Answer{"no_visual_studio", kRegister, 2, 0,
               "Error: Add-ins for Visual Studio requires Microsoft Visual Studio 2005 or Microsoft Visual Studio "
               "2008, and neither was found on this computer. Install one of them, then run the installation of "
               "Add-ins for Visual Studio again."},
        Answer{"registration_failed", kRegister, 6, 0,
               "Error: The add-ins of Add-ins for Visual Studio could not be registered with Visual Studio."},
        Answer{"configuration_locked", kRegister, 7, 0, kLocked},
        Answer{"other_code_traced_only", kRegister, 5, 0, nullptr},
        Answer{"unregistration_failed", kRemove, 3, 0,
               "Error: The add-ins of Add-ins for Visual Studio could not be unregistered from Visual Studio."},
        Answer{"configuration_locked_at_removal", kRemove, 7, 0, kLocked},
        Answer{"settings_left_behind", kRemove, 8, 0,
               "Error: Some Visual Studio settings of Add-ins for Visual Studio could not be removed."},
        Answer{"other_code_traced_only_at_removal", kRemove, 4, 0, nullptr},
        Answer{"provider_present", kDetect, -1, 0, nullptr, true},
        Answer{"provider_missing", kDetect, -1, 1603, kProviderMissing},
        Answer{"zero_is_no_answer", kDetect, 0, 1603, kProviderMissing, true},
        Answer{"check_failed_silent", kDetect, 12, 1603, kProviderMissing, true, "2"}),
    [](const ::testing::TestParamInfo<Answer>& i) { return std::string(i.param.name); });

// What is found wrong before the program would run: each action's result (kNotRun for
// an action that does not read what is wrong), its log, and nothing launched.
const UINT kNotRun = ~0u;
const Action kActions[] = {kRegister, kRemove, kDetect};

struct RefusalCase {
    const char* name;
    void (*arrange)(S&);
    UINT results[3];  // of kActions
    ::testing::Matcher<std::vector<std::string>> log;
    bool unconfirmed = false;  // the provider check then also says the provider is missing
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusals : public StandInTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, AreReportedAndNothingRuns) {
    const RefusalCase& c = GetParam();
    c.arrange(session);
    for (size_t i = 0; i < 3; ++i) {
        if (c.results[i] == kNotRun) continue;
        SCOPED_TRACE(i);
        session.clearLog();
        EXPECT_EQ(run(kActions[i]), c.results[i]);
        std::vector<std::string> lines = log();
        if (c.unconfirmed && i == 2) {
            EXPECT_EQ(lines.back(), logged(kProviderMissing));
            lines.pop_back();
        }
        EXPECT_THAT(lines, c.log);
    }
    EXPECT_TRUE(machine.launches().empty());
}

::testing::Matcher<std::vector<std::string>> reports(const std::string& start) {
    return ::testing::ElementsAre(::testing::StartsWith("1: Error: " + start));
}

INSTANTIATE_TEST_SUITE_P(
    Refused, Refusals,
    ::testing::Values(
        // The runtime folder's copy counts for nothing: without the package's row nothing runs.
        RefusalCase{"package_without_the_program",
                    [](S& s) {
                        auto& rows = s.database().rows("Binary");
                        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                                  [](const auto& r) { return r[0].text == "commontoolreg.exe"; }),
                                   rows.end());
                    },
                    {1603, 1603, 1603}, reports("The installation package's record of commontoolreg.exe cannot be read")},
        RefusalCase{"unreadable_install_dir", [](S& s) { s.failGetProperty("INSTALLDIR", 1615); }, {0, kNotRun, kNotRun},
                    reports("The installer property INSTALLDIR could not be read.")},
        RefusalCase{"unreadable_runtime_dir", [](S& s) { s.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615); },
                    {0, 0, 1615},
                    ::testing::ElementsAre(::testing::StartsWith("1: iMsiGetProperty failed"),
                                           logged("Error: The installer property CURRENT_PROCESS_DIRECTORY could not be read."))},
        RefusalCase{"command_too_long",
                    [](S& s) {
                        s.machine().makeDirs("C:\\Program Files\\" + std::string(200, 'd'));
                        s.setProperty("INSTALLDIR", "C:\\Program Files\\" + std::string(200, 'd'));
                    },
                    {0, kNotRun, kNotRun},
                    ::testing::ElementsAre(::testing::AllOf(
                        ::testing::StartsWith(logged("Error: The command " + std::string(kRuntimeDir) +
                                                     "\\commontoolreg.exe /commontoolinstall -DINSTALLDIR=\"C:\\Program Files\\ddd")
                                                  .substr(0, 120)),
                        ::testing::HasSubstr("... could not be run to completion.")))},
        RefusalCase{"quote_in_install_dir", [](S& s) { s.setProperty("INSTALLDIR", "C:\\FA9 \"Tools\""); },
                    {1603, kNotRun, kNotRun}, reports("The value C:\\FA9 \"Tools\" of INSTALLDIR holds a double quote")},
        RefusalCase{"quote_in_runtime_dir", [](S& s) { s.setProperty("CURRENT_PROCESS_DIRECTORY", "C:\\Temp\\\"x\""); },
                    {1603, 1603, 1603},
                    reports("The value C:\\Temp\\\"x\" of CURRENT_PROCESS_DIRECTORY holds a double quote")},
        RefusalCase{"relative_runtime_dir",
                    [](S& s) { s.setProperty("CURRENT_PROCESS_DIRECTORY", "Temp\\FA9WOLT00000"); }, {0, 0, 1603},
                    reports("The folder Temp\\FA9WOLT00000 given by CURRENT_PROCESS_DIRECTORY is empty"), true}),
    [](const ::testing::TestParamInfo<RefusalCase>& i) { return std::string(i.param.name); });

// The program's path is quoted whole, even in a folder named like a program; INSTALLDIR
// loses one trailing backslash, and the one left before the closing quote is doubled so
// that the program reads one. An elevated administrator's copy goes to the system's
// temporary folder, which the administrator's unelevated programs cannot rename away.
TEST_F(StandInTest, TheProgramAndInstallDirReachTheCommandLineIntact) {
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
    EXPECT_EQ(machine.readFile(std::string(kState) + "addins.txt"), "INSTALLDIR=C:\\Program Files\\Tools\\\n");
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

// ---------------------------------------------------------------- the program's copy in the script

const char* kSystemTemp = "C:\\Windows\\Temp";
const char* kPackage = "C:\\Windows\\Installer\\5fa9c.msi";  // the installer's copy of the package
const char* kProductCode = "{5FA9C0DE-2B1A-4E7C-9D3F-0A1B2C3D4E5F}";
const char* kOtherProduct = "{5FA9C0DE-2B1A-4E7C-9D3F-0A1B2C3D4E60}";
// A name taken before the script, and a copy a killed run left.
const std::string kTakenCopy = std::string(kSystemTemp) + "\\FA9RUN00000";
const std::string kOldCopy = std::string(kSystemTemp) + "\\FA9RUN0123456789abcdef";
const std::string kRuntime = kRuntimeDir;

// What a script row is handed: PreProcessInstallCA's data, that data without the
// package's path, or nothing (a row under another name gets none).
enum class ScriptData { Whole, NoPackage, None };

// A per-machine installation: the package's rows extracted into the user's runtime
// folder and cached by the installer, PreProcessInstallCA run before the script, the
// script run as SYSTEM.
class ScriptRun : public StandInTest {
protected:
    void SetUp() override {
        StandInTest::SetUp();
        machine.environment["TMP"] = machine.environment["TEMP"] = kSystemTemp;
        machine.makeDirs(kSystemTemp);
        winsim::Database& db = session.database();
        db.createTable("Property", {"Property", "Value"});
        db.createTable("CustomAction", {"Action", "Type", "Source", "Target"});
        for (const auto& row : std::vector<std::pair<const char*, int>>{
                 {"PreProcessInstallCA", 1}, {"RegisterWOLTKeysCA", 3073}, {"RemoveWOLTKeysCA", 3073}})
            db.insertRow("CustomAction", {winsim::Cell::str(row.first), winsim::Cell::integer(row.second),
                                          winsim::Cell::str("FA9WOLT_DLL"), winsim::Cell::str(row.first)});
        // Where Windows keeps it: only SYSTEM and Administrators may write there.
        machine.makeDirs("C:\\Windows\\Installer");
        machine.setAccessList("C:\\Windows\\Installer",
                              {winsim::kSidSystem, true, {{winsim::kSidSystem}, {winsim::kSidAdministrators}}});
        db.addBinary("FA9ISTRING_EN_US", machine.readFile(std::string(kRuntimeDir) + "\\fa9istring_v97.dll"));
        session.setProperty("ProductCode", kProductCode);
        session.writePackageCopy(kPackage);
        session.setProperty("DATABASE", kPackage);
    }
    // PreProcessInstallCA's data for `action`, then the action run in the script with a
    // store the user has since filled with decoys.
    UINT runInScript(Action ca, const char* action) {
        machine.token = winsim::Machine::Token{};  // the installing user, before the script
        if (run(PreProcessInstallCA) != 0) return 0xDEAD;
        const std::string data = session.property(action);
        session.setProperty("CustomActionData",
                            data_ == ScriptData::Whole       ? data
                            : data_ == ScriptData::NoPackage ? std::regex_replace(data, std::regex(";DATABASE=[^;]*"), "")
                                                             : "");
        const std::string store = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";
        for (const auto& decoy : std::vector<std::pair<const char*, const char*>>{
                 {"INSTALLDIR", "C:\\Decoy"}, {"CURRENT_PROCESS_DIRECTORY", "C:\\Users\\Public\\Planted"},
                 {"DATABASE", "C:\\Users\\Public\\p.msi"}, {"ProductCode", kOtherProduct}})
            machine.registry().setString(winsim::Hive::CurrentUser, store, decoy.first, decoy.second);
        session.setRunMode(winsim::RunMode::Scheduled);
        session.clearLog();
        machine.runAsSystem();
        return run(ca);
    }
    ScriptData data_ = ScriptData::Whole;
};

// What a script run's program copy allows while it is in use.
struct HeldCopy {
    std::string folder;
    DWORD writeError = 0;
    bool deleted = true;
} g_held;

UINT WINAPI useProgramCopy(MSIHANDLE hInstall) {
    ProgramCopy copy;
    if (copy.prepare(hInstall, "RegisterWOLTKeysCA") != 0) return ERROR_INSTALL_FAILURE;
    g_held.folder = copy.folder();
    HANDLE file = CreateFileA((g_held.folder + "\\commontoolreg.exe").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    g_held.writeError = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    g_held.deleted = DeleteFileA((g_held.folder + "\\Microsoft.VC80.CRT\\msvcr80.dll").c_str()) != FALSE;
    return 0;
}

// What was written is what runs: the copies stay open, sharing reading only, until the
// run is over, and then go.
TEST_F(ScriptRun, TheCopyCannotBeChangedWhileItIsInUse) {
    EXPECT_EQ(runInScript(useProgramCopy, "RegisterWOLTKeysCA"), 0u);
    EXPECT_THAT(g_held.folder, ::testing::MatchesRegex("C:.Windows.Temp.FA9RUN[0-9a-f]{16}"));
    EXPECT_EQ(g_held.writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(g_held.deleted);
    EXPECT_FALSE(machine.dirExists(g_held.folder));
}

struct TamperCase {
    const char* name;
    void (*tamper)(M&);  // after extraction, before the script
    const char* refused;  // the start of the refusal's text, or null when the program runs
    ScriptData data = ScriptData::Whole;
    std::vector<std::string> left = {};  // the FA9RUN entries left in the temporary folder
};
void PrintTo(const TamperCase& c, std::ostream* os) { *os << c.name; }

class ProgramFromThePackage : public ScriptRun, public ::testing::WithParamInterface<TamperCase> {};

TEST_P(ProgramFromThePackage, RunsTheGenuineProgramOrNothing) {
    const TamperCase& c = GetParam();
    data_ = c.data;
    for (const auto& [ca, action] :
         {std::pair{kRegister, "RegisterWOLTKeysCA"}, std::pair{kRemove, "RemoveWOLTKeysCA"}}) {
        SCOPED_TRACE(action);
        session.setRunMode(winsim::RunMode::Immediate);
        c.tamper(machine);
        const size_t before = machine.launches().size();
        const UINT rc = runInScript(ca, action);
        const auto launches = machine.launches();
        if (c.refused) {
            EXPECT_EQ(rc, 1603u);
            EXPECT_EQ(launches.size(), before) << "nothing runs";
            EXPECT_THAT(session.logLines().at(0), StartsWith(std::string("1: Error: ") + c.refused));
        } else {
            EXPECT_EQ(rc, 0u);
            ASSERT_EQ(launches.size(), before + 1);
            const std::string program = launches.back().program;
            EXPECT_THAT(program, ::testing::MatchesRegex("C:.Windows.Temp.FA9RUN[0-9a-f]{16}.commontoolreg\\.exe"));
            EXPECT_THAT(log(), ::testing::IsEmpty());
            // The folders come from the action's data, never from the decoys in the store.
            if (ca == kRegister) {
                EXPECT_EQ(launches.back().commandLine,
                          "\"" + program + "\" /commontoolinstall -DINSTALLDIR=\"C:\\Program Files\\FA9 Tools\"");
            }
        }
        // The copy goes with the run, whatever became of it; a folder someone else made
        // keeps what it held.
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(kSystemTemp)))
            if (e.path().filename().string().rfind("FA9RUN", 0) == 0) left.push_back(e.path().filename().string());
        EXPECT_THAT(left, ::testing::UnorderedElementsAreArray(c.left));
    }
}

// A package copy of this product or another holding the rows of the program's first
// `files` files, as the runtime folder holds them.
std::string packageOf(M& m, const char* productCode, size_t files = kProgramFiles.size()) {
    auto streams = winsim::msiPropertyTable({{"ProductCode", productCode}});
    for (size_t i = 0; i < files; ++i)
        streams.emplace_back(winsim::msiStreamName("Binary." + kProgramFiles[i].substr(kProgramFiles[i].rfind('\\') + 1)),
                             m.readFile(kRuntime + "\\" + kProgramFiles[i]));
    return winsim::compoundFile(streams);
}
const char* kPackageRefused = "The installation package's record of C:\\Windows\\Installer\\5fa9c.msi";
INSTANTIATE_TEST_SUITE_P(
    Script, ProgramFromThePackage,
    ::testing::Values(
        // Whatever the user changed in the runtime folder, the package's files run.
        TamperCase{"runtime_folder_changed",
                   [](M& m) {
                       m.copyFileIn(FA9_STANDINS_DIR "/devenv", kRuntime + "\\commontoolreg.exe");
                       DeleteFileA((kRuntime + "\\Microsoft.VC80.CRT\\msvcr80.dll").c_str());
                       m.writeFile(kRuntime + "\\Microsoft.VC80.MFC\\version.dll", "planted");
                   },
                   nullptr},
        TamperCase{"copy_name_taken_first", [](M& m) { m.writeFile(kTakenCopy + "\\planted.txt", "the user's"); },
                   nullptr, ScriptData::Whole, {"FA9RUN00000"}},
        TamperCase{"data_without_the_package", [](M&) {}, "The installation package's record of commontoolreg.exe",
                   ScriptData::NoPackage},
        // Registering names INSTALLDIR, which it reads first; removing names the program.
        TamperCase{"row_without_data", [](M&) {}, "The installation package's record of ",
                   ScriptData::None},
        TamperCase{"package_lacks_a_row", [](M& m) { m.writeFile(kPackage, packageOf(m, kProductCode, 1)); },
                   "The installation package's record of msvcm80.dll"},
        // DATABASE named another product's package: refused although it holds the program.
        TamperCase{"package_of_another_product", [](M& m) { m.writeFile(kPackage, packageOf(m, kOtherProduct)); },
                   kPackageRefused},
        TamperCase{"product_code_in_lower_case",
                   [](M& m) { m.writeFile(kPackage, packageOf(m, "{5fa9c0de-2b1a-4e7c-9d3f-0a1b2c3d4e5f}")); }, nullptr},
        // The genuine package in a locked folder, but the path to it leads through a link.
        TamperCase{"package_reached_through_a_link",
                   [](M& m) {
                       if (std::filesystem::is_symlink(m.hostPath("C:\\Windows\\Installer"))) return;
                       std::filesystem::rename(m.hostPath("C:\\Windows\\Installer"),
                                               m.hostPath("C:\\Program Files\\Cache"));
                       m.makeLink("C:\\Windows\\Installer", "C:\\Program Files\\Cache");
                   },
                   kPackageRefused},
        TamperCase{"package_not_a_package", [](M& m) { m.writeFile(kPackage, "not a compound file"); },
                   kPackageRefused},
        TamperCase{"package_folder_open_to_users",
                   [](M& m) {
                       m.setAccessList("C:\\Windows\\Installer",
                                       {winsim::kSidSystem, true, {{winsim::kSidSystem}, {winsim::kSidUsers}}});
                   },
                   kPackageRefused},
        TamperCase{"killed_runs_copy_removed",
                   [](M& m) { m.writeFile(kOldCopy + ".live", ""); m.writeFile(kOldCopy + "\\VC\\old.dll", "old"); },
                   nullptr},
        TamperCase{"users_marked_folder_kept",
                   [](M& m) {
                       m.writeFile(kOldCopy + "\\planted.txt", "the user's");
                       m.writeFile(kOldCopy + ".live", "");
                       for (const std::string& p : {kOldCopy, kOldCopy + ".live"})
                           m.setOwner(p, "S-1-5-21-1004336348-1177238915-682003330-1009");
                   },
                   nullptr, ScriptData::Whole, {"FA9RUN0123456789abcdef", "FA9RUN0123456789abcdef.live"}},
        // The script's texts are the package's: a string library the user put into the
        // runtime folder says nothing in a report (here the German one, where English is asked for).
        TamperCase{"copy_volume_full",
                   [](M& m) {
                       m.copyFileIn(stringLibrary("de_DE"), kRuntime + "\\fa9istring_v97.dll");
                       m.setVolumeFreeSpace('C', 10);
                   },
                   "The program file commontoolreg.exe is missing"}),
    [](const ::testing::TestParamInfo<TamperCase>& i) { return std::string(i.param.name); });

}  // namespace

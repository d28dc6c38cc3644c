// The registration program's copy in the script: written from the package's rows in the
// installer's copy of the package, held while it runs, gone afterwards.
#include "actions/exports.h"
#include "fixture.h"
#include "platform/scoped_handles.h"
#include "runtime/program_copy.h"
#include "winsim/package_copy.h"

#include <gmock/gmock.h>

#include <filesystem>

using namespace fa9test;
using ::testing::StartsWith;

namespace {

using M = winsim::Machine;
using Action = UINT(WINAPI*)(MSIHANDLE);
const std::string kTemp = "C:\\Windows\\Temp";
const char* kProductCode = "{5FA9C0DE-2B1A-4E7C-9D3F-0A1B2C3D4E5F}";
const char* kOtherProduct = "{5FA9C0DE-2B1A-4E7C-9D3F-0A1B2C3D4E60}";
const std::string kRuntime = kRuntimeDir;

// A per-machine installation: the package's rows extracted into the user's runtime
// folder and cached by the installer, PreProcessInstallCA run before the script, the
// script run as SYSTEM.
struct ScriptRun : RegistrationTest {
    void SetUp() override {
        RegistrationTest::SetUp();
        machine.environment["TMP"] = machine.environment["TEMP"] = kTemp;
        machine.makeDirs(kTemp);
        winsim::Database& db = session.database();
        db.createTable("Property", {"Property", "Value"});
        db.createTable("CustomAction", {"Action", "Type", "Source", "Target"});
        for (const auto& [action, type] : std::vector<std::pair<const char*, int>>{
                 {"PreProcessInstallCA", 1}, {"RegisterWOLTKeysCA", 3073}, {"RemoveWOLTKeysCA", 3073}})
            db.insertRow("CustomAction", {winsim::Cell::str(action), winsim::Cell::integer(type),
                                          winsim::Cell::str("FA9WOLT_DLL"), winsim::Cell::str(action)});
        db.addBinary("FA9ISTRING_EN_US", machine.readFile(kRuntime + "\\fa9istring_v97.dll"));
        writeScriptPackage(session, kProductCode);
        session.setProperty("DATABASE", kScriptPackage);
    }
    // PreProcessInstallCA's data for `action`, then the action run in the script with a
    // store the user has since filled with decoys.
    UINT runInScript(Action ca, const char* action) {
        machine.token = winsim::Machine::Token{};  // the installing user, before the script
        session.setRunMode(winsim::RunMode::Immediate);
        if (run(PreProcessInstallCA) != 0) return 0xDEAD;
        session.setProperty("CustomActionData", session.property(action));
        for (const auto& [name, decoy] : std::vector<std::pair<const char*, const char*>>{
                 {"INSTALLDIR", "C:\\Decoy"}, {"CURRENT_PROCESS_DIRECTORY", "C:\\Users\\Public\\Planted"},
                 {"DATABASE", "C:\\Users\\Public\\p.msi"}, {"ProductCode", kOtherProduct}})
            machine.registry().setString(winsim::Hive::CurrentUser, "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95", name,
                                         decoy);
        session.setRunMode(winsim::RunMode::Scheduled);
        session.clearLog();
        machine.runAsSystem();
        return run(ca);
    }
};

// What a script run's program copy allows while it is in use: its folder, the error of an
// open for writing, whether a file could be deleted.
struct {
    std::string folder;
    DWORD writeError = 0;
    bool deleted = true;
} g_held;

UINT WINAPI useProgramCopy(MSIHANDLE hInstall) {
    ProgramCopy copy;
    if (copy.prepare(hInstall, "RegisterWOLTKeysCA") != 0) return ERROR_INSTALL_FAILURE;
    g_held.folder = copy.folder();
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    unique_hfile file(CreateFileA((g_held.folder + "\\commontoolreg.exe").c_str(), GENERIC_WRITE, shareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    g_held.writeError = file ? 0 : GetLastError();
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

// A package copy of this product or another holding the rows of the program's first
// `files` files, as the runtime folder holds them.
std::string packageOf(M& m, const char* productCode, size_t files = ProgramCopy::kProgramFileCount) {
    auto streams = winsim::msiPropertyTable({{"ProductCode", productCode}});
    for (size_t i = 0; i < files; ++i)
        streams.emplace_back(winsim::msiStreamName("Binary." + rowOf(kProgramFiles[i])),
                             m.readFile(kRuntime + "\\" + kProgramFiles[i]));
    return winsim::compoundFile(streams);
}

// Both script actions run the genuine program from their copy or nothing; the copy goes
// with the run, whatever became of it, and a folder someone else made keeps what it held.
// What data without the package's path, and the sweep of earlier runs' copies, come to:
// the gate's table (held_path_test.cpp).
TEST(ProgramCopy, RunsTheGenuineProgramOrNothing) {
    const char* kPackageRefused = "The installation package's record of C:\\Windows\\Installer\\5fa9c.msi";
    const struct {
        const char* label;
        void (*tamper)(M&);  // after extraction, before the script
        const char* refused;  // the start of the refusal's text, or null when the program runs
        std::vector<std::string> left = {};  // the FA9RUN entries left in the temporary folder
    } rows[] = {
        // Whatever the user changed in the runtime folder, the package's files run.
        {"runtime folder changed",
         [](M& m) {
             m.copyFileIn(FA9_STANDINS_DIR "/devenv", kRuntime + "\\commontoolreg.exe");
             DeleteFileA((kRuntime + "\\Microsoft.VC80.CRT\\msvcr80.dll").c_str());
             m.writeFile(kRuntime + "\\Microsoft.VC80.MFC\\version.dll", "planted");
         },
         nullptr},
        {"copy name taken first", [](M& m) { m.writeFile(kTemp + "\\FA9RUN00000\\planted.txt", "the user's"); },
         nullptr, {"FA9RUN00000"}},
        {"package lacks a row", [](M& m) { m.writeFile(kScriptPackage, packageOf(m, kProductCode, 1)); },
         "The installation package's record of msvcm80.dll"},
        // DATABASE named another product's package: refused although it holds the program.
        {"package of another product", [](M& m) { m.writeFile(kScriptPackage, packageOf(m, kOtherProduct)); },
         kPackageRefused},
        {"product code in lower case",
         [](M& m) { m.writeFile(kScriptPackage, packageOf(m, "{5fa9c0de-2b1a-4e7c-9d3f-0a1b2c3d4e5f}")); }, nullptr},
        {"package not a package", [](M& m) { m.writeFile(kScriptPackage, "not a compound file"); }, kPackageRefused},
        // The Installer folder by its name, but one that users may change (its other shapes:
        // the gate's table).
        {"package folder open to users",
         [](M& m) {
             m.setAccessList("C:\\Windows\\Installer",
                             {winsim::kSidSystem, true, {{winsim::kSidSystem}, {winsim::kSidUsers}}});
         },
         kPackageRefused},
        // The script's texts are the package's: a string library the user put into the
        // runtime folder says nothing in a report (here the German one, where English is asked for).
        {"copy volume full",
         [](M& m) {
             m.copyFileIn(stringLibrary("de_DE"), kRuntime + "\\fa9istring_v97.dll");
             m.setVolumeFreeSpace('C', 10);
         },
         "The program file commontoolreg.exe is missing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<ScriptRun> t;
        using Entry = std::pair<UINT(WINAPI*)(MSIHANDLE), const char*>;  // clang makes no pair of a function
        for (const auto& [ca, action] : {Entry{RegisterWOLTKeysCA, "RegisterWOLTKeysCA"},
                                         Entry{RemoveWOLTKeysCA, "RemoveWOLTKeysCA"}}) {
            SCOPED_TRACE(action);
            row.tamper(t.machine);
            const size_t before = t.machine.launches().size();
            const UINT rc = t.runInScript(ca, action);
            const auto launches = t.machine.launches();
            if (row.refused) {
                EXPECT_EQ(rc, 1603u);
                EXPECT_EQ(launches.size(), before) << "nothing runs";
                EXPECT_THAT(t.log().at(0), StartsWith(std::string("1: Error: ") + row.refused));
            } else {
                EXPECT_EQ(rc, 0u);
                ASSERT_EQ(launches.size(), before + 1);
                const std::string program = launches.back().program;
                EXPECT_THAT(program, ::testing::MatchesRegex("C:.Windows.Temp.FA9RUN[0-9a-f]{16}.commontoolreg\\.exe"));
                EXPECT_THAT(t.log(), ::testing::IsEmpty());
                // The folders come from the action's data, never from the decoys in the store.
                if (ca == RegisterWOLTKeysCA) {
                    EXPECT_EQ(launches.back().commandLine,
                              "\"" + program + "\" /commontoolinstall -DINSTALLDIR=\"C:\\Program Files\\FA9 Tools\""); }
            }
            std::vector<std::string> left;
            for (const auto& e : std::filesystem::directory_iterator(t.machine.hostPath(kTemp)))
                if (e.path().filename().string().rfind("FA9RUN", 0) == 0) left.push_back(e.path().filename().string());
            EXPECT_THAT(left, ::testing::UnorderedElementsAreArray(row.left));
        }
    }
}

}  // namespace

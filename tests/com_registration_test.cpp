// The COM registration: the registry editor's import of the runtime folder's script, then
// the class's code base written in the folder's short form.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <optional>

using namespace fa9test;
using winsim::Hive;

namespace {

using M = winsim::Machine;
using S = winsim::Session;

const char* kClassKey = "CLSID\\{49921198-B717-4EA7-8D45-80CCC1867264}\\InprocServer32\\0.0.0.0";
const char* kRuntime = "C:\\Users\\setup\\AppData\\Local\\Temp\\FA9 Runtime";
const std::string kScript = std::string(kRuntime) + "\\ZNK.WOLT.Install.reg";
const char* kEditor32 = "C:\\Windows\\SysWOW64\\regedit.exe";
const char* kEditor64 = "C:\\Windows\\regedit.exe";
const char* kCodeBase = "file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\ZNK.WOLT.Install.dll";

class ComRegistration : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        for (const char* editor : {kEditor32, kEditor64}) machine.copyFileIn(FA9_CHILDREN_DIR "/regedit", editor);
        machine.writeFile(kScript, "REGEDIT4\n");
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntime);
        session.setProperty("UILevel", "5");
    }
};

// Windows' own editor in the process's bitness imports the script, never one of that
// name in the current directory (the runtime folder, which the installing user can write).
TEST_F(ComRegistration, ImportsTheScriptThenWritesAShortCodeBase) {
    machine.copyFileIn(FA9_CHILDREN_DIR "/regedit", std::string(kRuntime) + "\\regedit.exe");
    machine.setCurrentDirectory(kRuntime);
    for (const bool wow64 : {true, false}) {
        SCOPED_TRACE(wow64 ? "32-bit" : "64-bit");
        machine.wow64Process = wow64;
        machine.registry().setString(Hive::ClassesRoot, kClassKey, "CodeBase", "file:///old");
        const size_t before = machine.launches().size();
        EXPECT_EQ(run(RegCOMForCSFunctionsCA), 0u);
        EXPECT_EQ(machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"), kCodeBase);
        const auto launches = machine.launches();
        ASSERT_EQ(launches.size(), before + 1);
        const std::string editor = wow64 ? kEditor32 : kEditor64;
        EXPECT_EQ(launches.back().commandLine, "\"" + editor + "\" -s \"" + kScript + "\"");
        EXPECT_EQ(launches.back().program, editor);
    }
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

// A failure stops the action and says why in the log, and no CodeBase is written; a
// failed import's output is traced.
TEST(ComRegistrationFailure, StopsWithItsReportAndNoCodeBase) {
    const struct {
        const char* label;
        void (*arrange)(M&, S&);
        UINT rc;
        std::string line;  // a line of the log, up to where it varies
        size_t runs, boxes;
    } rows[] = {
        {"failed import", [](M& m, S&) { m.writeFile(kScript, "exit=1\n"); }, 1603u, "Error: regedit: imported ", 1, 0},
        {"no registry editor", [](M& m, S&) { m.writeFile(kEditor32, "MZ"); }, 1603u,
         "Error: The command " + std::string(kEditor32) + " -s \"" + kScript + "\" could not be run", 0, 1},
        {"value cannot be written", [](M& m, S&) { m.registry().denyWrite(Hive::ClassesRoot, kClassKey); }, 1603u,
         "Error: The registry value " + std::string(kClassKey) + "\\CodeBase could not be set", 1, 0},
        {"unreadable runtime folder", [](M&, S& s) { s.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615); }, 1615u,
         "Error: The installer property CURRENT_PROCESS_DIRECTORY could not be read.", 0, 0},
        // An import that takes the runtime folder away leaves no short form to point at.
        {"no short form after the import", [](M& m, S&) { m.writeFile(kScript, "delete-folder\n"); }, 1603u,
         "Failed to generate shortname", 1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<ComRegistration> t;
        row.arrange(t.machine, t.session);
        EXPECT_EQ(t.run(RegCOMForCSFunctionsCA), row.rc);
        EXPECT_THAT(t.log(), ::testing::Contains(::testing::StartsWith("1: " + row.line)));
        EXPECT_EQ(t.machine.launches().size(), row.runs);
        EXPECT_EQ(t.machine.messageBoxes.size(), row.boxes);
        EXPECT_EQ(t.machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"), std::nullopt);
    }
}

}  // namespace

// macConfigChange.exe below INSTALLDIR, (un)registering the tools folder with the machine.
// Where the script may run it from: the gate's tables (held_path_test.cpp).
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <functional>

using namespace fa9test;

namespace {

using M = winsim::Machine;
using S = winsim::Session;
const std::string kProgram = "C:\\Program Files\\FA9 Tools\\bin\\macConfigChange.exe";
const std::string kStandIns = "C:\\ProgramData\\FA9StandIns\\";  // where the stand-ins take their orders

class MachineConfig : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(FA9_STANDINS_DIR "/macconfigchange", kProgram);
        session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools\\");
        session.setProperty("UILevel", "5");
    }
};

TEST_F(MachineConfig, RegisterAndUnregisterTheToolsFolder) {
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 0u);
    session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools");
    EXPECT_EQ(run(UnregisterWOLTMachineCfgCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty()) << "success leaves no report and no trace";
    const auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].commandLine, "\"" + kProgram + "\" -toolspath \"C:\\Program Files\\FA9 Tools\\bin\"");
    EXPECT_EQ(launches[1].commandLine, "\"" + kProgram + "\" -unregister");
}

// Every failure stops its action (1603, or the failed read's own code) and says why in
// the log, with a box only where the user can act on it; no program runs where its path
// cannot be built.
TEST(MachineConfigFailure, StopsWithItsReport) {
    const auto set = [](const char* dir) { return [dir](M&, S& s) { s.setProperty("INSTALLDIR", dir); }; };
    const std::string tooLong = "C:\\" + std::string(250, 'p');
    const struct {
        const char* label;
        UINT (WINAPI* action)(MSIHANDLE);
        std::function<void(M&, S&)> arrange;
        UINT rc;
        std::string line;  // the start of a line of the log, after "Error: "
        size_t runs, boxes;
    } rows[] = {
        {"non-zero exit when unregistering", UnregisterWOLTMachineCfgCA,
         [](M& m, S&) { m.writeFile(kStandIns + "exitcodes.txt", "macConfigChange -unregister 5\n"); },
         1603u, kProgram + " failed with return code 5.", 1, 1},
        {"folder in the program's place", RegisterWOLTMachineCfgCA,
         [](M& m, S&) { DeleteFileA(kProgram.c_str()), m.makeDirs(kProgram); }, 1603u,
         "The program " + kProgram + " was not found.", 0, 1},
        // A Windows image the host cannot start: the run fails, not the file check.
        {"program that cannot run", RegisterWOLTMachineCfgCA,
         [](M& m, S&) { m.writeFile(kProgram, std::string("MZ\x90\0", 4)); }, 1603u, "The command " + kProgram, 0, 1},
        {"unreadable INSTALLDIR", RegisterWOLTMachineCfgCA, [](M&, S& s) { s.failGetProperty("INSTALLDIR", 1615); },
         1615u, "The installer property INSTALLDIR could not be read.", 0, 0},
        {"INSTALLDIR too long", RegisterWOLTMachineCfgCA, set(tooLong.c_str()), 1603u,
         "The folder " + tooLong + " given by INSTALLDIR is empty, not a full path, or too long", 0, 0},
        {"quote in INSTALLDIR", RegisterWOLTMachineCfgCA, set("C:\\FA9 \"Tools\"\\"), 1603u,
         "The value C:\\FA9 \"Tools\"\\ of INSTALLDIR holds a double quote", 0, 0},
        // A host program that starts one of its own, and neither ends by itself.
        {"past the time limit", RegisterWOLTMachineCfgCA,
         [](M& m, S& s) {
             m.writeFile(kProgram, "#!/bin/sh\n/bin/sleep 600 &\nexec /bin/sleep 600\n");
             s.setProperty("FA9_PROGRAM_TIMEOUT", "1");
         },
         1603u, "The program " + kProgram + " was still running after 1 seconds", 1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<MachineConfig> t;
        row.arrange(t.machine, t.session);
        EXPECT_EQ(t.run(row.action), row.rc);
        EXPECT_THAT(t.log(), ::testing::Contains(::testing::StartsWith("1: Error: " + row.line)));
        EXPECT_EQ(t.machine.launches().size(), row.runs);
        EXPECT_EQ(t.machine.messageBoxes.size(), row.boxes);
    }
}

}  // namespace

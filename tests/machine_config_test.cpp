// Registering and unregistering the tools folder with macConfigChange.exe below INSTALLDIR.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

using namespace fa9test;

namespace {

const char* kState = "C:\\ProgramData\\FA9StandIns\\";
const char* kProgram = "C:\\Program Files\\FA9 Tools\\bin\\macConfigChange.exe";

class MachineConfig : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(std::string(FA9_STANDINS_DIR) + "/macconfigchange", kProgram);
        session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools\\");
        session.setProperty("UILevel", "5");
    }
    void chooseExitCode(const std::string& argument, int code) {
        machine.writeFile(std::string(kState) + "exitcodes.txt",
                          "macConfigChange " + argument + " " + std::to_string(code) + "\n");
    }
    std::string configuration() {
        const std::string path = std::string(kState) + "machine.cfg";
        return machine.fileExists(path) ? machine.readFile(path) : "(none)";
    }
};

TEST_F(MachineConfig, RegisterAndUnregisterTheToolsFolder) {
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 0u);
    EXPECT_EQ(configuration(), "toolspath=C:\\Program Files\\FA9 Tools\\bin\n");
    session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9 Tools");
    EXPECT_EQ(run(UnregisterWOLTMachineCfgCA), 0u);
    EXPECT_EQ(configuration(), "(none)");
    EXPECT_THAT(log(), ::testing::IsEmpty()) << "success leaves no report and no trace";
    const auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].commandLine,
              "\"" + std::string(kProgram) + "\" -toolspath \"C:\\Program Files\\FA9 Tools\\bin\"");
    EXPECT_EQ(launches[1].commandLine, "\"" + std::string(kProgram) + "\" -unregister");
}

TEST_F(MachineConfig, ANonZeroExitStopsTheInstallationInBothDirections) {
    chooseExitCode("-unregister", 5);
    EXPECT_EQ(run(UnregisterWOLTMachineCfgCA), 1603u);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         logged("Error: " + std::string(kProgram) + " failed with return code 5."),
                         logged("Error: macConfigChange: tools folder unregistered\n"),
                         logged("Error: macConfigChange: exit code 5 chosen for -unregister\n")}));
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
}

TEST_F(MachineConfig, AMissingProgramOrAFolderInItsPlaceIs5054) {
    const std::string notFound = "Error: The program " + std::string(kProgram) +
                                 " was not found. Repair the installation of the product, then try again.";
    session.setProperty("INSTALLDIR", "C:\\Elsewhere");
    machine.makeDirs("C:\\Elsewhere\\bin\\macConfigChange.exe");
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: The program C:\\Elsewhere\\bin\\macConfigChange.exe was "
                                                     "not found. Repair the installation of the product, then try "
                                                     "again.")});
    EXPECT_TRUE(machine.launches().empty());
}

TEST_F(MachineConfig, AProgramThatCannotRunIs5030) {
    // A Windows image the host cannot start: the run fails, not the file check.
    machine.writeFile(kProgram, std::string("MZ\x90\0", 4));
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Error: The command " + std::string(kProgram) +
                         " -toolspath \"C:\\Program Files\\FA9 Tools\\bin\" could not be run to completion. Check "
                         "that the program exists and can be started, then try again.")});
}

TEST_F(MachineConfig, UnreadableInstallDirReturnsTheReadsCode) {
    session.failGetProperty("INSTALLDIR", 1615);
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1615u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: The installer property INSTALLDIR could not be read.")});
}

TEST_F(MachineConfig, AnInstallDirThatCannotLeadTheProgramPathRunsNothing) {
    const std::string tooLong = "C:\\" + std::string(250, 'p');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {tooLong, "Error: The folder " + tooLong + " given by INSTALLDIR is empty, not a full path, or too long"},
        {"", "Error: The folder  given by INSTALLDIR is empty, not a full path, or too long"},
        {"FA9 Tools\\", "Error: The folder FA9 Tools\\ given by INSTALLDIR is empty, not a full path, or too long"},
        {"C:\\FA9 \"Tools\"\\", "Error: The value C:\\FA9 \"Tools\"\\ of INSTALLDIR holds a double quote"}};
    for (const auto& [value, report] : cases) {
        session.clearLog();
        session.setProperty("INSTALLDIR", value);
        EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1603u) << value;
        ASSERT_EQ(log().size(), 1u) << value;
        EXPECT_THAT(log()[0], ::testing::StartsWith(logged(report).substr(0, logged(report).size() - 1))) << value;
    }
    EXPECT_TRUE(machine.launches().empty());
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(MachineConfig, AProgramPastTheTimeLimitIsEndedAndStopsTheInstallation) {
    // A host program that starts one of its own, and neither ends by itself.
    machine.writeFile(kProgram, "#!/bin/sh\n/bin/sleep 600 &\nexec /bin/sleep 600\n");
    session.setProperty("FA9_PROGRAM_TIMEOUT", "1");
    EXPECT_EQ(run(RegisterWOLTMachineCfgCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: The program " + std::string(kProgram) +
                                                     " was still running after 1 seconds and was ended together "
                                                     "with every process it started.")});
}

}  // namespace

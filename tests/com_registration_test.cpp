// The COM code-base registration: the script import, then the CodeBase value.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

using namespace fa9test;
using winsim::Hive;

namespace {

const char* kClassKey = "CLSID\\{49921198-B717-4EA7-8D45-80CCC1867264}\\InprocServer32\\0.0.0.0";
const char* kRuntime = "C:\\Users\\setup\\AppData\\Local\\Temp\\FA9 Runtime";

class ComRegistration : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(std::string(FA9_CHILDREN_DIR) + "/regedit", "C:\\Windows\\regedit.exe");
        machine.writeFile(std::string(kRuntime) + "\\ZNK.WOLT.Install.reg", "REGEDIT4\n");
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntime);
        session.setProperty("UILevel", "5");
    }
};

TEST_F(ComRegistration, ImportsTheScriptThenWritesAShortCodeBase) {
    machine.registry().setString(Hive::ClassesRoot, kClassKey, "CodeBase", "file:///old");
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"),
              "file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\ZNK.WOLT.Install.dll");
    ASSERT_EQ(machine.launches().size(), 1u);
    EXPECT_EQ(machine.launches()[0].commandLine, "\"regedit.exe\" -s \"" + std::string(kRuntime) + "\\ZNK.WOLT.Install.reg\"");
    EXPECT_EQ(machine.launches()[0].program, "C:\\Windows\\regedit.exe");
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

TEST_F(ComRegistration, AFailedImportIsTracedAndStops) {
    machine.writeFile(std::string(kRuntime) + "\\ZNK.WOLT.Install.reg", "exit=1\n");
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: regedit: imported " + std::string(kRuntime) +
                                                     "\\ZNK.WOLT.Install.reg\n")});
    EXPECT_FALSE(machine.registry().keyExists(Hive::ClassesRoot, kClassKey));
}

TEST_F(ComRegistration, NoRegistryEditorIs5030) {
    session.setProperty("CURRENT_PROCESS_DIRECTORY", "C:\\Gone");
    machine.writeFile("C:\\Windows\\regedit.exe", std::string("MZ", 2));
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Error: The command regedit.exe -s \"C:\\Gone\\ZNK.WOLT.Install.reg\" could not be run to "
                         "completion. Check that the program exists and can be started, then try again.")});
    EXPECT_EQ(machine.messageBoxes.size(), 1u);
}

TEST_F(ComRegistration, AValueThatCannotBeWrittenIs5334) {
    machine.registry().denyWrite(Hive::ClassesRoot, kClassKey);
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Error: The registry value " + std::string(kClassKey) +
                         "\\CodeBase could not be set to file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\"
                         "ZNK.WOLT.Install.dll. Make sure you have administrative rights, then run the installation "
                         "again.")});
    EXPECT_TRUE(machine.messageBoxes.empty()) << "logged only";
}

TEST_F(ComRegistration, UnreadableRuntimeDirectoryReturnsTheReadsCode) {
    session.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615);
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 1615u);
    EXPECT_EQ(log().back(), logged("Error: The installer property CURRENT_PROCESS_DIRECTORY could not be read."));
    EXPECT_TRUE(machine.launches().empty());
}

TEST_F(ComRegistration, NoShortFormAfterTheImportIsLoggedAndStops) {
    // An import that takes the runtime folder away leaves no short form to point at.
    machine.writeFile(std::string(kRuntime) + "\\ZNK.WOLT.Install.reg", "delete-folder\n");
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Failed to generate shortname")});
    EXPECT_FALSE(machine.registry().keyExists(Hive::ClassesRoot, kClassKey));
}

}  // namespace

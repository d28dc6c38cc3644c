// SetSilentInstallPropertiesCA end to end: PATH, the response file, and FILE as the
// target of INSTALLDIR.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>
#include <string>
#include <vector>

using namespace fa9test;

namespace {

const char* kProductCode = "{0E7A1C52-5D2B-4F0B-9C43-5A7F0D1B2C31}";
const char* kToolsComponent = "{FA997000-9ABA-4C3A-0731-AAAAAA4FE25C}";
const char* kToolsDir = "C:\\Program Files\\FA9\\tools";
const char* kPackageDir = "C:\\Program Files\\FA9 Tools\\";
const char* kRsp = "C:\\rsp\\silent.rsp";

class SilentInstall : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("ProductCode", kProductCode);
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
        session.setProperty("TempFolder", "C:\\Users\\setup\\AppData\\Local\\Temp\\");
        session.setProperty("UILevel", "2");
        session.setProperty("PROP_RSP_PROD", "WOLT_TOOLS");
        session.setProperty("RSP_FILE_PATH", kRsp);
        session.setProperty("INSTALLDIR", kPackageDir);
        session.setTargetPath("INSTALLDIR", kPackageDir);
        machine.environment["PATH"] = "C:\\Windows";
        machine.setComponent(kProductCode, kToolsComponent, INSTALLSTATE_LOCAL, kToolsDir);
    }
    std::string installDir() const { return session.targetPath("INSTALLDIR").value_or("(no folder)"); }
};

const std::string kPreparedPath = std::string(kRuntimeDir) + ";" + kToolsDir + ";C:\\Windows";

std::string refused(UINT code) {
    return "Error: The installation directory given in the response file could not be set (result code " +
           std::to_string(code) + "). Check the keyword FILE in the response file.";
}
std::string badValue(const std::string& path) {
    return "Error: The value \"" + path +
           "\" is not valid for the keyword FILE. Correct it in the response file and run the installation again.";
}

struct FileCase {
    const char* name;
    const char* rspFile;
    const char* uiLevel;
    bool costed;
    UINT result;
    const char* installDir;  // the target path afterwards
    std::vector<std::string> log;
    size_t boxes;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FileKeyword : public SilentInstall, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileKeyword, BecomesTheTargetOfINSTALLDIR) {
    const FileCase& c = GetParam();
    machine.writeFile(kRsp, c.rspFile);
    session.setProperty("UILevel", c.uiLevel);
    session.setCostingDone(c.costed);
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), c.result);
    EXPECT_EQ(installDir(), c.installDir);
    // The directory's property follows its target path.
    EXPECT_EQ(session.property("INSTALLDIR"), c.installDir);
    std::vector<std::string> expected;
    for (const auto& line : c.log) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.messageBoxes.size(), c.boxes);
    // The environment was prepared first, whatever came after.
    EXPECT_EQ(machine.environment["PATH"], kPreparedPath);
}

INSTANTIATE_TEST_SUITE_P(
    Silent, FileKeyword,
    ::testing::Values(
        FileCase{"no_file_keyword", "PROD=WOLT_TOOLS\n", "2", true, 0, kPackageDir, {}, 0},
        FileCase{"backslash_appended", "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n", "2", true, 0, "D:\\Tools\\", {}, 0},
        FileCase{"no_second_backslash", "PROD=WOLT_TOOLS\nFILE=D:\\Tools\\\n", "2", true, 0, "D:\\Tools\\", {}, 0},
        FileCase{"installer_tidies_the_path", "PROD=WOLT_TOOLS\nFILE=D:\\\\ Tools \\\\sub\n", "2", true, 0,
                 "D:\\Tools\\sub\\", {}, 0},
        FileCase{"not_a_full_path", "PROD=WOLT_TOOLS\nFILE=Tools\\sub\n", "2", true, 1603, kPackageDir,
                 {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\sub\\")}, 0},
        FileCase{"before_costing", "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n", "2", false, 1603, kPackageDir,
                 {refused(ERROR_DIRECTORY), badValue("D:\\Tools\\")}, 0},
        // With the full interface only the second report is shown.
        FileCase{"refused_with_full_ui", "PROD=WOLT_TOOLS\nFILE=Tools\n", "5", true, 1603, kPackageDir,
                 {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\")}, 1}),
    [](const ::testing::TestParamInfo<FileCase>& i) { return std::string(i.param.name); });

TEST_F(SilentInstall, AnEnvironmentFailureEndsTheActionFirst) {
    machine.setComponent(kProductCode, kToolsComponent, INSTALLSTATE_ABSENT, "");
    machine.writeFile(kRsp, "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: The installer property ComponentPath could not be read.")});
    EXPECT_EQ(machine.environment["PATH"], "C:\\Windows");
    EXPECT_EQ(installDir(), kPackageDir);
}

}  // namespace

// SetSilentInstallPropertiesCA end to end: PATH, the response file, and FILE as the
// target of INSTALLDIR; and the installer's target-path calls it relies on.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>

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

TEST_F(SilentInstall, AResponseFileThatCannotBeSetUpIsReportedTwice) {
    session.setProperty("RSP_FILE_PATH", "");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 1603u);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         logged("Error: The property RSP_FILE_PATH, which names the response file of an unattended "
                                "installation, could not be read (result code 0). Give the response file as "
                                "RSP_FILE_PATH=<path> on the command line."),
                         logged("Error: The response file could not be set up. Check the preceding lines of this log, "
                                "correct the response file or the RSP_FILE_PATH property, and run the installation "
                                "again.")}));
    // An unattended installation shows nothing.
    EXPECT_THAT(machine.messageBoxes, ::testing::IsEmpty());
}

TEST_F(SilentInstall, AnInteractiveInstallationWritesItsOwnFile) {
    session.setProperty("UILevel", "5");
    session.setProperty("RSP_FILE_PATH", "");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 0u);
    const std::string written = "C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RL000.rsp";
    EXPECT_EQ(session.property("RSP_FILE_PATH"), written);
    EXPECT_EQ(machine.readFile(written), "PROD=WOLT_TOOLS\r\n");
    EXPECT_EQ(installDir(), kPackageDir);
    EXPECT_THAT(log(), ::testing::IsEmpty());
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

// ---- the installer's target paths ----

class TargetPaths : public SessionTest {
protected:
    void SetUp() override { session.setTargetPath("INSTALLDIR", "C:\\Program Files\\App\\"); }
    MSIHANDLE h() const { return session.handle(); }
};

struct SetCase {
    const char* folder;
    const char* path;
    UINT result;
    const char* stored;  // the folder's target path afterwards
};
void PrintTo(const SetCase& c, std::ostream* os) { *os << c.folder << " <- \"" << (c.path ? c.path : "(null)") << '"'; }

class SetTargetPath : public TargetPaths, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetTargetPath, StoresTheNormalisedPathOrRefuses) {
    const SetCase& c = GetParam();
    EXPECT_EQ(MsiSetTargetPathA(h(), c.folder, c.path), c.result);
    EXPECT_EQ(session.targetPath("INSTALLDIR").value_or("(none)"), c.stored);
}

const char* kUnchanged = "C:\\Program Files\\App\\";

INSTANTIATE_TEST_SUITE_P(
    Winsim, SetTargetPath,
    ::testing::Values(SetCase{"INSTALLDIR", "C:\\one\\two", 0, "C:\\one\\two\\"},
                      SetCase{"INSTALLDIR", "C:\\one\\two\\", 0, "C:\\one\\two\\"},
                      SetCase{"INSTALLDIR", "C:\\\\one\\\\two  ", 0, "C:\\one\\two\\"},
                      SetCase{"INSTALLDIR", "C:\\\\ Program Files \\\\ ", 0, "C:\\Program Files\\"},
                      SetCase{"INSTALLDIR", "D:\\", 0, "D:\\"},
                      SetCase{"INSTALLDIR", "\\\\server\\share\\dir", 0, "\\\\server\\share\\dir\\"},
                      SetCase{"INSTALLDIR", nullptr, ERROR_INVALID_PARAMETER, kUnchanged},
                      // Directory names are the table's keys: case counts.
                      SetCase{"installdir", "C:\\one", ERROR_DIRECTORY, kUnchanged},
                      SetCase{"BOGUS", "C:\\one", ERROR_DIRECTORY, kUnchanged},
                      SetCase{"INSTALLDIR", "one\\two", ERROR_FUNCTION_FAILED, kUnchanged},
                      SetCase{"INSTALLDIR", "C:one", ERROR_FUNCTION_FAILED, kUnchanged},
                      SetCase{"INSTALLDIR", "", ERROR_FUNCTION_FAILED, kUnchanged},
                      SetCase{"INSTALLDIR", "C:\\a|b", ERROR_FUNCTION_FAILED, kUnchanged},
                      SetCase{"INSTALLDIR", "\\\\server", ERROR_FUNCTION_FAILED, kUnchanged}));

TEST_F(TargetPaths, HandlesFoldersAndCosting) {
    EXPECT_EQ(MsiSetTargetPathA(0, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiSetTargetPathA(0, "INSTALLDIR", "C:\\x"), static_cast<UINT>(ERROR_INVALID_HANDLE));
    session.setCostingDone(false);
    EXPECT_EQ(MsiSetTargetPathA(h(), "INSTALLDIR", "C:\\x"), static_cast<UINT>(ERROR_DIRECTORY));
    char buffer[64] = "q";
    DWORD size = sizeof buffer;
    EXPECT_EQ(MsiGetTargetPathA(h(), "INSTALLDIR", buffer, &size), static_cast<UINT>(ERROR_DIRECTORY));
    session.setCostingDone(true);
    EXPECT_EQ(MsiGetTargetPathA(h(), nullptr, buffer, &size), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MsiGetTargetPathA(0, "INSTALLDIR", buffer, &size), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiGetTargetPathA(h(), "BOGUS", buffer, &size), static_cast<UINT>(ERROR_DIRECTORY));
}

TEST_F(TargetPaths, ARefusedPathChangesNothing) {
    machine.writeFile("C:\\locked\\file", "x");
    ASSERT_EQ(::chmod(machine.hostPath("C:\\locked\\file").c_str(), 0444), 0);
    session.setProperty("INSTALLDIR", kUnchanged);
    EXPECT_EQ(MsiSetTargetPathA(h(), "INSTALLDIR", "C:\\locked\\file"), static_cast<UINT>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(session.targetPath("INSTALLDIR"), std::optional<std::string>(kUnchanged));
    EXPECT_EQ(session.property("INSTALLDIR"), kUnchanged);
}

struct GetCase {
    DWORD size;
    bool withBuffer;
    UINT result;
    const char* buffer;
    DWORD sizeOut;
};
void PrintTo(const GetCase& c, std::ostream* os) { *os << "size " << c.size << (c.withBuffer ? "" : " no buffer"); }

class GetTargetPath : public TargetPaths, public ::testing::WithParamInterface<GetCase> {};

// Inside a custom action a length that does not fit comes back doubled.
TEST_P(GetTargetPath, FollowsTheBufferRulesOfACustomAction) {
    session.setTargetPath("TARGETDIR", "C:\\");
    const GetCase& c = GetParam();
    char buffer[16] = "q";
    DWORD size = c.size;
    EXPECT_EQ(MsiGetTargetPathA(h(), "TARGETDIR", c.withBuffer ? buffer : nullptr, &size), c.result);
    EXPECT_STREQ(buffer, c.buffer);
    EXPECT_EQ(size, c.sizeOut);
}

INSTANTIATE_TEST_SUITE_P(Winsim, GetTargetPath,
                         ::testing::Values(GetCase{0, false, 0, "q", 6}, GetCase{0, true, ERROR_MORE_DATA, "q", 6},
                                           GetCase{1, true, ERROR_MORE_DATA, "", 6},
                                           GetCase{3, true, ERROR_MORE_DATA, "C:", 6},
                                           GetCase{4, true, 0, "C:\\", 3}));

}  // namespace

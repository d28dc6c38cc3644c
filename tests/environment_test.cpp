// The PATH of the custom-action process: runtime folder, tools component, old PATH; and
// what the installer log says when it cannot be prepared. Then SetSilentInstallPropertiesCA,
// which prepares it first: the response file, and FILE as the target of INSTALLDIR.
#include "actions/exports.h"
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "runtime/environment.h"

#include <gmock/gmock.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace fa9test;

namespace {

const char* kProductCode = "{0E7A1C52-5D2B-4F0B-9C43-5A7F0D1B2C31}";
const char* kToolsComponent = "{FA997000-9ABA-4C3A-0731-AAAAAA4FE25C}";
const char* kToolsDir = "C:\\Program Files\\FA9\\tools";
const char* kOldPath = "C:\\Windows\\system32;C:\\Windows";

class Environment : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("ProductCode", kProductCode);
        session.setProperty("CURRENT_PROCESS_DIRECTORY", kRuntimeDir);
        machine.environment["Path"] = kOldPath;
        machine.setComponent(kProductCode, kToolsComponent, INSTALLSTATE_LOCAL, kToolsDir);
    }
    // Prepares the environment the way a custom action does.
    UINT initialize() {
        CustomActionContext context(session.handle());
        return liteInitializeEnvironment(session.handle());
    }
    std::optional<std::string> path() const {
        auto it = machine.environment.find("PATH");
        return it == machine.environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

const std::string kRuntime = kRuntimeDir;
const std::string kPreparedPath = kRuntime + ";" + kToolsDir + ";" + kOldPath;

struct PathCase {
    const char* name;
    INSTALLSTATE state;
    const char* componentPath;
    bool hasPath;            // the process has a PATH variable
    const char* runtime;     // CURRENT_PROCESS_DIRECTORY
    const char* unreadable;  // a property whose read fails, or null
    UINT result;
    std::optional<std::string> newPath;  // nullopt: PATH as it was
    std::vector<std::string> log;        // without the "1: " framing
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class InitializeEnvironment : public Environment, public ::testing::WithParamInterface<PathCase> {};

TEST_P(InitializeEnvironment, PrependsRuntimeAndComponentOrLeavesPathAlone) {
    const PathCase& c = GetParam();
    machine.setComponent(kProductCode, kToolsComponent, c.state, c.componentPath);
    if (!c.hasPath) machine.environment.erase("PATH");
    session.setProperty("CURRENT_PROCESS_DIRECTORY", c.runtime);
    if (c.unreadable) session.failGetProperty(c.unreadable, 1615);

    EXPECT_EQ(initialize(), c.result);
    EXPECT_EQ(path(), c.newPath ? c.newPath : (c.hasPath ? std::optional<std::string>(kOldPath) : std::nullopt));
    std::vector<std::string> expected;
    for (const auto& line : c.log) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    // Only the unreadable PATH is an error the user is shown.
    EXPECT_EQ(machine.messageBoxes.size(), c.name == std::string("no_path_variable") ? 1u : 0u);
}

const char* kComponentUnreadable = "Error: The installer property ComponentPath could not be read.";

INSTANTIATE_TEST_SUITE_P(
    Env, InitializeEnvironment,
    ::testing::Values(
        PathCase{"installed_locally", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir, nullptr, 0, kPreparedPath, {}},
        PathCase{"run_from_source", INSTALLSTATE_SOURCE, "\\\\server\\share\\tools", true, kRuntimeDir, nullptr, 0,
                 kRuntime + ";\\\\server\\share\\tools;" + kOldPath, {}},
        // The installer has no verdict on the component: its (empty) path still goes in.
        PathCase{"state_unknown", INSTALLSTATE_UNKNOWN, "", true, kRuntimeDir, nullptr, 0,
                 kRuntime + ";;" + kOldPath, {}},
        PathCase{"empty_runtime_directory", INSTALLSTATE_LOCAL, kToolsDir, true, "", nullptr, 0,
                 std::string(";") + kToolsDir + ";" + kOldPath, {}},
        PathCase{"component_absent", INSTALLSTATE_ABSENT, "", true, kRuntimeDir, nullptr, 1603, {},
                 {kComponentUnreadable}},
        PathCase{"component_not_used", INSTALLSTATE_NOTUSED, "", true, kRuntimeDir, nullptr, 1603, {},
                 {kComponentUnreadable}},
        PathCase{"component_invalid_argument", INSTALLSTATE_INVALIDARG, "", true, kRuntimeDir, nullptr, 1603, {},
                 {kComponentUnreadable}},
        // Reported by the component's lookup, then by the preparation.
        PathCase{"product_code_unreadable", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir, "ProductCode", 1603,
                 {}, {"Error: The installer property ProductCode could not be read.", kComponentUnreadable}},
        PathCase{"no_path_variable", INSTALLSTATE_LOCAL, kToolsDir, false, kRuntimeDir, nullptr, 1603, {},
                 {"Error: The PATH environment variable of the installer process could not be read (system error "
                  "code 203)."}},
        // Without tokens the message text is logged as it stands.
        PathCase{"runtime_directory_unreadable", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir,
                 "CURRENT_PROCESS_DIRECTORY", 1603, {},
                 {"Error: The environment of the installer process could not be prepared, so programs of the "
                  "installation may not be found. Failed setting: %1=%2"}}),
    [](const ::testing::TestParamInfo<PathCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- SetSilentInstallPropertiesCA

const char* kPackageDir = "C:\\Program Files\\FA9 Tools\\";
const char* kRsp = "C:\\rsp\\silent.rsp";

class SilentInstall : public Environment {
protected:
    void SetUp() override {
        Environment::SetUp();
        session.setProperty("TempFolder", "C:\\Users\\setup\\AppData\\Local\\Temp\\");
        session.setProperty("UILevel", "2");
        session.setProperty("PROP_RSP_PROD", "WOLT_TOOLS");
        session.setProperty("RSP_FILE_PATH", kRsp);
        session.setProperty("INSTALLDIR", kPackageDir);
        session.setTargetPath("INSTALLDIR", kPackageDir);
    }
    std::string installDir() const { return session.targetPath("INSTALLDIR").value_or("(no folder)"); }
};

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
    const char* rspFile;  // after the PROD line
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
    machine.writeFile(kRsp, std::string("PROD=WOLT_TOOLS\n") + c.rspFile);
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
    EXPECT_EQ(path(), kPreparedPath);
}

INSTANTIATE_TEST_SUITE_P(
    Silent, FileKeyword,
    ::testing::Values(
        FileCase{"no_file_keyword", "", "2", true, 0, kPackageDir, {}, 0},
        FileCase{"backslash_appended", "FILE=D:\\Tools\n", "2", true, 0, "D:\\Tools\\", {}, 0},
        FileCase{"no_second_backslash", "FILE=D:\\Tools\\\n", "2", true, 0, "D:\\Tools\\", {}, 0},
        FileCase{"installer_tidies_the_path", "FILE=D:\\\\ Tools \\\\sub\n", "2", true, 0,
                 "D:\\Tools\\sub\\", {}, 0},
        FileCase{"not_a_full_path", "FILE=Tools\\sub\n", "2", true, 1603, kPackageDir,
                 {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\sub\\")}, 0},
        FileCase{"before_costing", "FILE=D:\\Tools\n", "2", false, 1603, kPackageDir,
                 {refused(ERROR_DIRECTORY), badValue("D:\\Tools\\")}, 0},
        // With the full interface only the second report is shown.
        FileCase{"refused_with_full_ui", "FILE=Tools\n", "5", true, 1603, kPackageDir,
                 {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\")}, 1}),
    [](const ::testing::TestParamInfo<FileCase>& i) { return std::string(i.param.name); });

TEST_F(SilentInstall, AnEnvironmentFailureEndsTheActionFirst) {
    machine.setComponent(kProductCode, kToolsComponent, INSTALLSTATE_ABSENT, "");
    machine.writeFile(kRsp, "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged(kComponentUnreadable)});
    EXPECT_EQ(path(), kOldPath);
    EXPECT_EQ(installDir(), kPackageDir);
}

}  // namespace

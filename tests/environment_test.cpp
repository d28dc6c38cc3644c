// The PATH of the custom-action process: runtime folder, tools component, old PATH; and
// what the installer log says when it cannot be prepared. Then SetSilentInstallPropertiesCA,
// which prepares it first: the response file, and FILE as the target of INSTALLDIR.
#include "actions/exports.h"
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "runtime/environment.h"

#include <gmock/gmock.h>

#include <optional>
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

const char* kComponentUnreadable = "Error: The installer property ComponentPath could not be read.";

TEST_F(Environment, PrependsRuntimeAndComponentOrLeavesPathAlone) {
    const auto initial = machine.environment;
    const struct {
        const char* name;
        INSTALLSTATE state;
        const char* componentPath;
        bool hasPath;            // the process has a PATH variable
        const char* runtime;     // CURRENT_PROCESS_DIRECTORY
        const char* unreadable;  // a property whose read fails, or null
        std::optional<std::string> newPath;  // nullopt: PATH as it was, and 1603
        std::vector<std::string> log;        // without the "1: " framing
    } cases[] = {
        {"installed locally", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir, nullptr, kPreparedPath, {}},
        {"run from source", INSTALLSTATE_SOURCE, "\\\\server\\share\\tools", true, kRuntimeDir, nullptr,
         kRuntime + ";\\\\server\\share\\tools;" + kOldPath, {}},
        // The installer has no verdict on the component: its (empty) path still goes in.
        {"state unknown", INSTALLSTATE_UNKNOWN, "", true, kRuntimeDir, nullptr, kRuntime + ";;" + kOldPath, {}},
        {"empty runtime directory", INSTALLSTATE_LOCAL, kToolsDir, true, "", nullptr,
         std::string(";") + kToolsDir + ";" + kOldPath, {}},
        {"component absent", INSTALLSTATE_ABSENT, "", true, kRuntimeDir, nullptr, {}, {kComponentUnreadable}},
        {"component not used", INSTALLSTATE_NOTUSED, "", true, kRuntimeDir, nullptr, {}, {kComponentUnreadable}},
        {"component invalid argument", INSTALLSTATE_INVALIDARG, "", true, kRuntimeDir, nullptr, {},
         {kComponentUnreadable}},
        // Reported by the component's lookup, then by the preparation.
        {"product code unreadable", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir, "ProductCode", {},
         {"Error: The installer property ProductCode could not be read.", kComponentUnreadable}},
        // The only one the user is shown.
        {"no path variable", INSTALLSTATE_LOCAL, kToolsDir, false, kRuntimeDir, nullptr, {},
         {"Error: The PATH environment variable of the installer process could not be read (system error "
          "code 203)."}},
        // Without tokens the message text is logged as it stands.
        {"runtime directory unreadable", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir,
         "CURRENT_PROCESS_DIRECTORY", {},
         {"Error: The environment of the installer process could not be prepared, so programs of the "
          "installation may not be found. Failed setting: %1=%2"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.environment = initial;
        if (!c.hasPath) machine.environment.erase("PATH");
        machine.setComponent(kProductCode, kToolsComponent, c.state, c.componentPath);
        session.setProperty("CURRENT_PROCESS_DIRECTORY", c.runtime);
        for (const char* name : {"ProductCode", "CURRENT_PROCESS_DIRECTORY"})
            session.failGetProperty(name, c.unreadable && name == std::string(c.unreadable) ? 1615 : 0);
        session.clearLog();
        machine.messageBoxes.clear();

        EXPECT_EQ(initialize(), c.newPath ? 0u : 1603u);
        EXPECT_EQ(path(), c.newPath ? c.newPath : (c.hasPath ? std::optional<std::string>(kOldPath) : std::nullopt));
        std::vector<std::string> expected;
        for (const auto& line : c.log) expected.push_back(logged(line));
        EXPECT_EQ(log(), expected);
        EXPECT_EQ(machine.messageBoxes.size(), c.hasPath ? 0u : 1u);
    }
}

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

// A refused value fails the action (1603) with both reports, of which the full interface
// shows only the second. The environment was prepared first, whatever came after, and
// the directory's property follows its target path.
TEST_F(SilentInstall, FileKeywordBecomesTheTargetOfINSTALLDIR) {
    const auto initial = machine.environment;
    const struct {
        const char* rspFile;  // after the PROD line
        const char* uiLevel;
        bool costed;
        const char* installDir;  // the target path afterwards
        std::vector<std::string> log;
        size_t boxes;
    } cases[] = {
        {"", "2", true, kPackageDir, {}, 0},
        {"FILE=D:\\Tools\n", "2", true, "D:\\Tools\\", {}, 0},
        {"FILE=D:\\Tools\\\n", "2", true, "D:\\Tools\\", {}, 0},
        {"FILE=D:\\\\ Tools \\\\sub\n", "2", true, "D:\\Tools\\sub\\", {}, 0},  // the installer tidies it
        {"FILE=Tools\\sub\n", "2", true, kPackageDir, {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\sub\\")}, 0},
        {"FILE=D:\\Tools\n", "2", false, kPackageDir, {refused(ERROR_DIRECTORY), badValue("D:\\Tools\\")}, 0},
        {"FILE=Tools\n", "5", true, kPackageDir, {refused(ERROR_FUNCTION_FAILED), badValue("Tools\\")}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rspFile << "UILevel " << c.uiLevel << (c.costed ? "" : ", not costed"));
        machine.environment = initial;
        session.setProperty("INSTALLDIR", kPackageDir);
        session.setTargetPath("INSTALLDIR", kPackageDir);
        session.clearLog();
        machine.messageBoxes.clear();
        machine.writeFile(kRsp, std::string("PROD=WOLT_TOOLS\n") + c.rspFile);
        session.setProperty("UILevel", c.uiLevel);
        session.setCostingDone(c.costed);
        EXPECT_EQ(run(SetSilentInstallPropertiesCA), c.log.empty() ? 0u : 1603u);
        EXPECT_EQ(installDir(), c.installDir);
        EXPECT_EQ(session.property("INSTALLDIR"), c.installDir);
        std::vector<std::string> expected;
        for (const auto& line : c.log) expected.push_back(logged(line));
        EXPECT_EQ(log(), expected);
        EXPECT_EQ(machine.messageBoxes.size(), c.boxes);
        EXPECT_EQ(path(), kPreparedPath);
    }
}

TEST_F(SilentInstall, AnEnvironmentFailureEndsTheActionFirst) {
    machine.setComponent(kProductCode, kToolsComponent, INSTALLSTATE_ABSENT, "");
    machine.writeFile(kRsp, "PROD=WOLT_TOOLS\nFILE=D:\\Tools\n");
    EXPECT_EQ(run(SetSilentInstallPropertiesCA), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged(kComponentUnreadable)});
    EXPECT_EQ(path(), kOldPath);
    EXPECT_EQ(installDir(), kPackageDir);
}

}  // namespace

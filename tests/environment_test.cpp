// The PATH of the custom-action process: runtime folder, tools component, old PATH; and
// what the installer log says when it cannot be prepared.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
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
    // Runs `work` the way a custom action runs it.
    template <typename Work>
    UINT inContext(Work work) {
        CustomActionContext context(session.handle());
        return work();
    }
    std::optional<std::string> path() const {
        auto it = machine.environment.find("PATH");
        return it == machine.environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
};

const std::string kRuntime = kRuntimeDir;

struct PathCase {
    const char* name;
    INSTALLSTATE state;
    const char* componentPath;
    bool hasPath;          // the process has a PATH variable
    const char* runtime;   // CURRENT_PROCESS_DIRECTORY; null: the read fails
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
    if (c.runtime)
        session.setProperty("CURRENT_PROCESS_DIRECTORY", c.runtime);
    else
        session.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615);

    EXPECT_EQ(inContext([&] { return liteInitializeEnvironment(session.handle()); }), c.result);
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
        PathCase{"installed_locally", INSTALLSTATE_LOCAL, kToolsDir, true, kRuntimeDir, 0,
                 kRuntime + ";" + kToolsDir + ";" + kOldPath, {}},
        PathCase{"run_from_source", INSTALLSTATE_SOURCE, "\\\\server\\share\\tools", true, kRuntimeDir, 0,
                 kRuntime + ";\\\\server\\share\\tools;" + kOldPath, {}},
        // The installer has no verdict on the component: its (empty) path still goes in.
        PathCase{"state_unknown", INSTALLSTATE_UNKNOWN, "", true, kRuntimeDir, 0, kRuntime + ";;" + kOldPath, {}},
        PathCase{"empty_runtime_directory", INSTALLSTATE_LOCAL, kToolsDir, true, "", 0,
                 std::string(";") + kToolsDir + ";" + kOldPath, {}},
        PathCase{"component_absent", INSTALLSTATE_ABSENT, "", true, kRuntimeDir, 1603, std::nullopt,
                 {kComponentUnreadable}},
        PathCase{"component_not_used", INSTALLSTATE_NOTUSED, "", true, kRuntimeDir, 1603, std::nullopt,
                 {kComponentUnreadable}},
        PathCase{"component_invalid_argument", INSTALLSTATE_INVALIDARG, "", true, kRuntimeDir, 1603, std::nullopt,
                 {kComponentUnreadable}},
        PathCase{"no_path_variable", INSTALLSTATE_LOCAL, kToolsDir, false, kRuntimeDir, 1603, std::nullopt,
                 {"Error: The PATH environment variable of the installer process could not be read (system error "
                  "code 203)."}},
        // Without tokens the message text is logged as it stands.
        PathCase{"runtime_directory_unreadable", INSTALLSTATE_LOCAL, kToolsDir, true, nullptr, 1603, std::nullopt,
                 {"Error: The environment of the installer process could not be prepared, so programs of the "
                  "installation may not be found. Failed setting: %1=%2"}}),
    [](const ::testing::TestParamInfo<PathCase>& i) { return std::string(i.param.name); });

TEST_F(Environment, AnUnreadableProductCodeIsReportedTwice) {
    session.failGetProperty("ProductCode", 1615);
    EXPECT_EQ(inContext([&] { return liteInitializeEnvironment(session.handle()); }), 1603u);
    EXPECT_EQ(log(), (std::vector<std::string>{logged("Error: The installer property ProductCode could not be read."),
                                                logged(kComponentUnreadable)}));
    EXPECT_EQ(path(), std::optional<std::string>(kOldPath));
}

TEST_F(Environment, EachRunPrependsAgainAndChildrenInheritIt) {
    const std::string once = kRuntime + ";" + kToolsDir + ";" + kOldPath;
    EXPECT_EQ(inContext([&] { return liteInitializeEnvironment(session.handle()); }), 0u);
    EXPECT_EQ(path(), once);
    EXPECT_EQ(inContext([&] { return liteInitializeEnvironment(session.handle()); }), 0u);
    EXPECT_EQ(path(), kRuntime + ";" + kToolsDir + ";" + once);
    // The variable keeps the name it had: Windows matches names without regard to case.
    EXPECT_EQ(machine.environment.count("Path"), 1u);
}

}  // namespace

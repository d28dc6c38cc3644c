// The PATH of the custom-action process: runtime folder, tools component, old PATH; and
// what the installer log says when it cannot be prepared.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "runtime/environment.h"

#include <gmock/gmock.h>

#include <optional>

using namespace fa9test;

namespace {

const std::string kRuntime = kRuntimeDir, kOld = ToolsPath::kOld;
const char* kComponentUnreadable = "Error: The installer property ComponentPath could not be read.";

using Environment = SessionTest;

TEST_F(Environment, PrependsRuntimeAndComponentOrLeavesPathAlone) {
    installRuntime(stringLibrary("en_US"));
    ToolsPath::install(machine, session);
    const auto initial = machine.environment;
    const struct {
        const char* label;
        INSTALLSTATE state;
        const char* componentPath;
        bool hasPath;                        // the process has a PATH variable
        const char* unreadable;              // a property whose read fails, or null
        std::optional<std::string> newPath;  // nullopt: PATH as it was, and 1603
        std::vector<std::string> log = {};   // without the "1: " framing
    } rows[] = {
        // The installer has no verdict on the component: its (empty) path still goes in. The
        // usual outcomes, prepared or failing for want of the component, are the silent
        // installation's.
        {"state unknown", INSTALLSTATE_UNKNOWN, "", true, nullptr, kRuntime + ";;" + kOld},
        // Reported by the component's lookup, then by the preparation.
        {"product code unreadable", INSTALLSTATE_LOCAL, ToolsPath::kDir, true, "ProductCode", {},
         {"Error: The installer property ProductCode could not be read.", kComponentUnreadable}},
        // The only one the user is shown.
        {"no path variable", INSTALLSTATE_LOCAL, ToolsPath::kDir, false, nullptr, {},
         {"Error: The PATH environment variable of the installer process could not be read (system error "
          "code 203)."}},
        // Without tokens the message text is logged as it stands.
        {"runtime directory unreadable", INSTALLSTATE_LOCAL, ToolsPath::kDir, true, "CURRENT_PROCESS_DIRECTORY", {},
         {"Error: The environment of the installer process could not be prepared, so programs of the "
          "installation may not be found. Failed setting: %1=%2"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        machine.environment = initial;
        if (!row.hasPath) machine.environment.erase("PATH");
        machine.setComponent(ToolsPath::kProduct, ToolsPath::kComponent, row.state, row.componentPath);
        for (const char* name : {"ProductCode", "CURRENT_PROCESS_DIRECTORY"})
            session.failGetProperty(name, row.unreadable && name == std::string(row.unreadable) ? 1615 : 0);
        session.clearLog();
        machine.messageBoxes.clear();
        UINT rc;
        {
            CustomActionContext context(session.handle());
            rc = liteInitializeEnvironment(session.handle());
        }
        EXPECT_EQ(rc, row.newPath ? 0u : 1603u);
        const auto path = machine.environment.find("PATH");
        EXPECT_EQ(path == machine.environment.end() ? std::nullopt : std::optional<std::string>(path->second),
                  row.newPath ? row.newPath : (row.hasPath ? std::optional<std::string>(kOld) : std::nullopt));
        EXPECT_EQ(log(), logged(row.log));
        EXPECT_EQ(machine.messageBoxes.size(), row.hasPath ? 0u : 1u);
    }
}

}  // namespace

// The COM code-base registration: the script import, then the CodeBase value.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <optional>
#include <ostream>

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

// Every failure stops the action with its code, says why in its last log line (a box
// only where the user can act on it), and leaves no CodeBase behind.
struct ComFailure {
    const char* name;
    void (*arrange)(winsim::Machine&, winsim::Session&);
    UINT rc;
    std::string line;
    size_t boxes;
};
void PrintTo(const ComFailure& c, std::ostream* os) { *os << c.name; }

class ComFailures : public ComRegistration, public ::testing::WithParamInterface<ComFailure> {};

TEST_P(ComFailures, StopTheActionAndWriteNoCodeBase) {
    const ComFailure& c = GetParam();
    c.arrange(machine, session);
    EXPECT_EQ(run(RegCOMForCSFunctionsCA), c.rc);
    ASSERT_FALSE(log().empty());
    EXPECT_EQ(log().back(), logged(c.line));
    EXPECT_EQ(machine.messageBoxes.size(), c.boxes);
    EXPECT_EQ(machine.registry().getString(Hive::ClassesRoot, kClassKey, "CodeBase"), std::nullopt);
}

const std::string kScript = std::string(kRuntime) + "\\ZNK.WOLT.Install.reg";

INSTANTIATE_TEST_SUITE_P(
    Com, ComFailures,
    ::testing::Values(
        ComFailure{"failed_import_is_traced",
                   [](winsim::Machine& m, winsim::Session&) { m.writeFile(kScript, "exit=1\n"); }, 1603u,
                   "Error: regedit: imported " + kScript + "\n", 0},
        ComFailure{"no_registry_editor",
                   [](winsim::Machine& m, winsim::Session& s) {
                       s.setProperty("CURRENT_PROCESS_DIRECTORY", "C:\\Gone");
                       m.writeFile("C:\\Windows\\regedit.exe", std::string("MZ", 2));
                   },
                   1603u,
                   "Error: The command regedit.exe -s \"C:\\Gone\\ZNK.WOLT.Install.reg\" could not be run to "
                   "completion. Check that the program exists and can be started, then try again.",
                   1},
        ComFailure{"value_cannot_be_written",
                   [](winsim::Machine& m, winsim::Session&) { m.registry().denyWrite(Hive::ClassesRoot, kClassKey); },
                   1603u,
                   "Error: The registry value " + std::string(kClassKey) +
                       "\\CodeBase could not be set to file:///C:\\Users\\setup\\AppData\\Local\\Temp\\FA9RUN~1\\"
                       "ZNK.WOLT.Install.dll. Make sure you have administrative rights, then run the installation "
                       "again.",
                   0},
        ComFailure{"unreadable_runtime_directory",
                   [](winsim::Machine&, winsim::Session& s) { s.failGetProperty("CURRENT_PROCESS_DIRECTORY", 1615); },
                   1615u, "Error: The installer property CURRENT_PROCESS_DIRECTORY could not be read.", 0},
        // An import that takes the runtime folder away leaves no short form to point at.
        ComFailure{"no_short_form_after_the_import",
                   [](winsim::Machine& m, winsim::Session&) { m.writeFile(kScript, "delete-folder\n"); }, 1603u,
                   "Failed to generate shortname", 0}),
    [](const ::testing::TestParamInfo<ComFailure>& i) { return std::string(i.param.name); });

}  // namespace

// The IDE runs at installation and at a full removal.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

using namespace fa9test;

namespace {

const char* kVs80 = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE\\";
const char* kVs90 = "C:\\Program Files\\Microsoft Visual Studio 9.0\\Common7\\IDE\\";

class IdeTemplates : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        for (const char* dir : {kVs80, kVs90})
            machine.copyFileIn(std::string(FA9_STANDINS_DIR) + "/devenv", std::string(dir) + "devenv.exe");
        session.setProperty("VS80_INSTALLDIR", kVs80);
        session.setProperty("VS90_INSTALLDIR", kVs90);
    }
    std::vector<std::string> runs() {
        const char* path = "C:\\ProgramData\\FA9StandIns\\devenv.log";
        std::vector<std::string> out;
        std::istringstream text(machine.fileExists(path) ? machine.readFile(path) : "");
        for (std::string line; std::getline(text, line);) out.push_back(line);
        return out;
    }
};

const std::string setup80 = std::string(kVs80) + "\\devenv.exe /setup";
const std::string setup90 = std::string(kVs90) + "\\devenv.exe /setup";
const std::string refresh90 = std::string(kVs90) + "\\devenv.exe /Command Tools.InstallCommunityControls";

// Which runs the removal state and the IDE folders lead to. A folder not set or faulty
// skips what needs it; only a quote, which would split the command line, stops the action.
struct RunCase {
    const char* name;
    void (*arrange)(winsim::Session&);
    UINT rc;
    std::vector<std::string> runs;
    std::vector<std::string> log;  // without the "1: " framing
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class IdeRuns : public IdeTemplates, public ::testing::WithParamInterface<RunCase> {};

TEST_P(IdeRuns, FollowTheRemovalStateAndTheFolders) {
    const RunCase& c = GetParam();
    c.arrange(session);
    EXPECT_EQ(run(SetupWOLTTemplateCA), c.rc);
    EXPECT_EQ(runs(), c.runs);
    std::vector<std::string> expected;
    for (const std::string& line : c.log) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.launches().size(), c.runs.size()) << "no attempt at a program without its folder";
    EXPECT_TRUE(machine.messageBoxes.empty());
}

using S = winsim::Session;
const std::string kExecFolder = "C:\\VS\\a.exec\\";
const char* kReadFailed = "iMsiGetProperty failed with return code '1615'.";
std::string notSet(const std::string& property) {
    return "Information: The folder property " + property + " is not set, so the program run that needs it is skipped.";
}

INSTANTIATE_TEST_SUITE_P(
    Ide, IdeRuns,
    ::testing::Values(
        RunCase{"installation", [](S&) {}, 0u, {setup80, setup90}, {}},
        RunCase{"neither_ide_installed",
                [](S& s) {
                    s.setProperty("VS80_INSTALLDIR", "");
                    s.setProperty("VS90_INSTALLDIR", "___NotSet___");
                },
                0u, {}, {notSet("VS80_INSTALLDIR"), notSet("VS90_INSTALLDIR")}},
        RunCase{"an_ide_folder_named_like_a_program_runs_its_ide",
                [](S& s) {
                    s.machine().copyFileIn(std::string(FA9_STANDINS_DIR) + "/devenv", kExecFolder + "devenv.exe");
                    s.setProperty("VS80_INSTALLDIR", kExecFolder);
                },
                0u, {kExecFolder + "\\devenv.exe /setup", setup90}, {}},
        RunCase{"feature_removal", [](S& s) { s.setProperty("REMOVE", "Templates,Controls"); }, 0u,
                {setup80, setup90}, {}},
        RunCase{"full_removal_refreshes_the_controls", [](S& s) { s.setProperty("REMOVE", "ALL"); }, 0u,
                {setup80, setup90, refresh90}, {}},
        RunCase{"full_removal_in_lower_case", [](S& s) { s.setProperty("REMOVE", "all"); }, 0u,
                {setup80, setup90, refresh90}, {}},
        RunCase{"ide_exit_codes_are_not_looked_at",
                [](S& s) { s.machine().writeFile("C:\\ProgramData\\FA9StandIns\\exitcodes.txt", "devenv /setup 1\n"); },
                0u, {setup80, setup90}, {}},
        RunCase{"relative_folder_skips_its_runs",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.setProperty("VS80_INSTALLDIR", "Common7\\IDE\\");
                },
                0u, {setup90, refresh90},
                {"Error: The folder Common7\\IDE\\ given by VS80_INSTALLDIR is empty, not a full path, or too long, "
                 "so no program is run from it. Correct the value and run the installation again."}},
        RunCase{"a_quote_stops_before_any_run",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.setProperty("VS80_INSTALLDIR", "C:\\VS \"8\"\\");
                },
                1603u, {},
                {"Error: The value C:\\VS \"8\"\\ of VS80_INSTALLDIR holds a double quote and cannot be put on a "
                 "command line. Correct the value and run the installation again."}},
        RunCase{"unreadable_2005_folder",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("VS80_INSTALLDIR", 1615);
                },
                0u, {setup90, refresh90}, {kReadFailed, "Error: The installer property VS80_INSTALLDIR could not be read."}},
        RunCase{"unreadable_2008_folder_means_no_refresh",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("VS90_INSTALLDIR", 1615);
                },
                0u, {setup80}, {kReadFailed, "Error: The installer property VS90_INSTALLDIR could not be read."}},
        RunCase{"unreadable_removal_state_means_no_refresh",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("REMOVE", 1615);
                },
                0u, {setup80, setup90}, {kReadFailed, "Error: The installer property REMOVE could not be read."}}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return std::string(i.param.name); });

}  // namespace

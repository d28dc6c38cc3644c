// The IDE runs at installation and at a full removal.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>
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
        if (!machine.fileExists(path)) return out;
        std::string text = machine.readFile(path);
        for (size_t i = 0, j; (j = text.find('\n', i)) != std::string::npos; i = j + 1) out.push_back(text.substr(i, j - i));
        return out;
    }
};

const std::string setup80 = std::string(kVs80) + "\\devenv.exe /setup";
const std::string setup90 = std::string(kVs90) + "\\devenv.exe /setup";
const std::string refresh90 = std::string(kVs90) + "\\devenv.exe /Command Tools.InstallCommunityControls";

TEST_F(IdeTemplates, NeitherIdeInstalledSkipsBothRunsAndSucceeds) {
    session.setProperty("VS80_INSTALLDIR", "");
    session.setProperty("VS90_INSTALLDIR", "___NotSet___");
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         logged("Information: The folder property VS80_INSTALLDIR is not set, so the program run that "
                                "needs it is skipped."),
                         logged("Information: The folder property VS90_INSTALLDIR is not set, so the program run that "
                                "needs it is skipped.")}));
    EXPECT_THAT(runs(), ::testing::IsEmpty());
    EXPECT_TRUE(machine.launches().empty()) << "no attempt at \\devenv.exe";
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(IdeTemplates, AnIdeFolderNamedLikeAProgramRunsItsIde) {
    const std::string folder = "C:\\VS\\a.exec\\";
    machine.copyFileIn(std::string(FA9_STANDINS_DIR) + "/devenv", folder + "devenv.exe");
    session.setProperty("VS80_INSTALLDIR", folder);
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{folder + "\\devenv.exe /setup", setup90}));
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

// Which runs the removal state and the IDE folders lead to. A fault in one folder skips
// what needs it; only a quote, which would split the command line, stops the action.
struct RunCase {
    const char* name;
    void (*arrange)(winsim::Session&);
    UINT rc;
    std::vector<std::string> runs;
    std::string lastLine;  // the log's last line; "": no log at all
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class IdeRuns : public IdeTemplates, public ::testing::WithParamInterface<RunCase> {};

TEST_P(IdeRuns, FollowTheRemovalStateAndTheFolders) {
    const RunCase& c = GetParam();
    c.arrange(session);
    EXPECT_EQ(run(SetupWOLTTemplateCA), c.rc);
    EXPECT_EQ(runs(), c.runs);
    if (c.lastLine.empty())
        EXPECT_THAT(log(), ::testing::IsEmpty());
    else
        EXPECT_EQ(log().back(), logged(c.lastLine));
}

using S = winsim::Session;
INSTANTIATE_TEST_SUITE_P(
    Ide, IdeRuns,
    ::testing::Values(
        RunCase{"installation", [](S&) {}, 0u, {setup80, setup90}, ""},
        RunCase{"feature_removal", [](S& s) { s.setProperty("REMOVE", "Templates,Controls"); }, 0u,
                {setup80, setup90}, ""},
        RunCase{"full_removal_refreshes_the_controls", [](S& s) { s.setProperty("REMOVE", "ALL"); }, 0u,
                {setup80, setup90, refresh90}, ""},
        RunCase{"full_removal_in_lower_case", [](S& s) { s.setProperty("REMOVE", "all"); }, 0u,
                {setup80, setup90, refresh90}, ""},
        RunCase{"ide_exit_codes_are_not_looked_at",
                [](S& s) { s.machine().writeFile("C:\\ProgramData\\FA9StandIns\\exitcodes.txt", "devenv /setup 1\n"); },
                0u, {setup80, setup90}, ""},
        RunCase{"relative_folder_skips_its_runs",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.setProperty("VS80_INSTALLDIR", "Common7\\IDE\\");
                },
                0u, {setup90, refresh90},
                "Error: The folder Common7\\IDE\\ given by VS80_INSTALLDIR is empty, not a full path, or too long, so "
                "no program is run from it. Correct the value and run the installation again."},
        RunCase{"a_quote_stops_before_any_run",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.setProperty("VS80_INSTALLDIR", "C:\\VS \"8\"\\");
                },
                1603u, {},
                "Error: The value C:\\VS \"8\"\\ of VS80_INSTALLDIR holds a double quote and cannot be put on a "
                "command line. Correct the value and run the installation again."},
        RunCase{"unreadable_2005_folder",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("VS80_INSTALLDIR", 1615);
                },
                0u, {setup90, refresh90}, "Error: The installer property VS80_INSTALLDIR could not be read."},
        RunCase{"unreadable_2008_folder_means_no_refresh",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("VS90_INSTALLDIR", 1615);
                },
                0u, {setup80}, "Error: The installer property VS90_INSTALLDIR could not be read."},
        RunCase{"unreadable_removal_state_means_no_refresh",
                [](S& s) {
                    s.setProperty("REMOVE", "ALL");
                    s.failGetProperty("REMOVE", 1615);
                },
                0u, {setup80, setup90}, "Error: The installer property REMOVE could not be read."}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return std::string(i.param.name); });

}  // namespace

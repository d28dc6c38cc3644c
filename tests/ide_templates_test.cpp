// The IDEs' runs for the templates: devenv /setup of each IDE at installation and removal,
// and the controls refreshed at a full removal.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <functional>
#include <sstream>

using namespace fa9test;

namespace {

using S = winsim::Session;
const std::string kStandIns = "C:\\ProgramData\\FA9StandIns\\";  // the stand-ins' orders and records

const char* kVs80 = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE\\";
const char* kVs90 = "C:\\Program Files\\Microsoft Visual Studio 9.0\\Common7\\IDE\\";

class IdeTemplates : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        for (const std::string dir : {kVs80, kVs90}) machine.copyFileIn(FA9_STANDINS_DIR "/devenv", dir + "devenv.exe");
        session.setProperty("VS80_INSTALLDIR", kVs80);
        session.setProperty("VS90_INSTALLDIR", kVs90);
    }
};

std::string notSet(const std::string& property) {
    return "Information: The folder property " + property + " is not set, so the program run that needs it is skipped";
}
std::string unreadable(const std::string& property) {
    return "Error: The installer property " + property + " could not be read.";
}

// Which runs the removal state and the IDE folders lead to. A folder not set or faulty
// skips what needs it; only a quote, which would split the command line, stops the action.
TEST(IdeRuns, FollowTheRemovalStateAndTheFolders) {
    const std::string setup80 = std::string(kVs80) + "\\devenv.exe /setup";
    const std::string setup90 = std::string(kVs90) + "\\devenv.exe /setup";
    const std::string refresh90 = std::string(kVs90) + "\\devenv.exe /Command Tools.InstallCommunityControls";
    const char* readFailed = "iMsiGetProperty failed with return code '1615'.";
    const struct {
        const char* label;
        const char* remove;  // REMOVE, "" when not set
        std::function<void(S&)> arrange;
        UINT rc;
        std::vector<std::string> runs;
        std::vector<std::string> log;  // the lines' starts, without the "1: " framing
    } rows[] = {
        {"installation or a feature's removal, whatever the IDEs' exit codes", "Templates",
         [](S& s) { s.machine().writeFile(kStandIns + "exitcodes.txt", "devenv /setup 1\n"); }, 0u,
         {setup80, setup90}, {}},
        {"neither IDE installed", "",
         [](S& s) { s.setProperty("VS80_INSTALLDIR", ""), s.setProperty("VS90_INSTALLDIR", "___NotSet___"); },
         0u, {}, {notSet("VS80_INSTALLDIR"), notSet("VS90_INSTALLDIR")}},
        {"full removal in any case refreshes the controls", "All", [](S&) {}, 0u, {setup80, setup90, refresh90}, {}},
        {"relative folder skips its runs", "ALL", [](S& s) { s.setProperty("VS80_INSTALLDIR", "Common7\\IDE\\"); },
         0u, {setup90, refresh90}, {"Error: The folder Common7\\IDE\\ given by VS80_INSTALLDIR is empty"}},
        // The program's path fits, the command with its arguments does not.
        {"a folder too long for its command skips its run", "ALL",
         [](S& s) { s.setProperty("VS80_INSTALLDIR", "C:\\" + std::string(242, 'v')); }, 0u, {setup90, refresh90},
         {"Error: The command C:\\vvv"}},
        {"a quote stops before any run", "ALL", [](S& s) { s.setProperty("VS80_INSTALLDIR", "C:\\VS \"8\"\\"); },
         1603u, {}, {"Error: The value C:\\VS \"8\"\\ of VS80_INSTALLDIR holds a double quote"}},
        {"unreadable 2005 folder", "ALL", [](S& s) { s.failGetProperty("VS80_INSTALLDIR", 1615); }, 0u,
         {setup90, refresh90}, {readFailed, unreadable("VS80_INSTALLDIR")}},
        {"unreadable 2008 folder means no refresh", "ALL", [](S& s) { s.failGetProperty("VS90_INSTALLDIR", 1615); },
         0u, {setup80}, {readFailed, unreadable("VS90_INSTALLDIR")}},
        {"unreadable removal state means no refresh", "ALL", [](S& s) { s.failGetProperty("REMOVE", 1615); },
         0u, {setup80, setup90}, {readFailed, unreadable("REMOVE")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Fresh<IdeTemplates> t;
        if (*row.remove) t.session.setProperty("REMOVE", row.remove);
        row.arrange(t.session);
        EXPECT_EQ(t.run(SetupWOLTTemplateCA), row.rc);
        std::vector<std::string> runs;
        if (t.machine.fileExists(kStandIns + "devenv.log")) {
            std::istringstream text(t.machine.readFile(kStandIns + "devenv.log"));
            for (std::string line; std::getline(text, line);) runs.push_back(line);
        }
        EXPECT_EQ(runs, row.runs);
        std::vector<::testing::Matcher<std::string>> expected;
        for (const std::string& line : row.log) expected.push_back(::testing::StartsWith("1: " + line));
        EXPECT_THAT(t.log(), ::testing::ElementsAreArray(expected));
        EXPECT_EQ(t.machine.launches().size(), row.runs.size()) << "no attempt at a program without its folder";
        EXPECT_TRUE(t.machine.messageBoxes.empty());
    }
}

}  // namespace

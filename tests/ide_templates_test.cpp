// The IDE runs at installation and at a full removal.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

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

TEST_F(IdeTemplates, FullRemovalAddsTheControlRefreshAfterBothSetups) {
    for (const char* removal : {"ALL", "all"}) {
        machine.writeFile("C:\\ProgramData\\FA9StandIns\\devenv.log", "");
        session.setProperty("REMOVE", removal);
        EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
        EXPECT_EQ(runs(), (std::vector<std::string>{setup80, setup90, refresh90})) << removal;
    }
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

TEST_F(IdeTemplates, InstallationOrFeatureRemovalRunsOnlyTheSetups) {
    for (const char* removal : {"", "Templates,Controls"}) {
        machine.writeFile("C:\\ProgramData\\FA9StandIns\\devenv.log", "");
        session.setProperty("REMOVE", removal);
        EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
        EXPECT_EQ(runs(), (std::vector<std::string>{setup80, setup90})) << removal;
    }
}

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

TEST_F(IdeTemplates, UnusableFoldersSkipTheirRunOrStopAtAQuote) {
    session.setProperty("REMOVE", "ALL");
    session.setProperty("VS80_INSTALLDIR", "Common7\\IDE\\");
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{setup90, refresh90}));
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Error: The folder Common7\\IDE\\ given by VS80_INSTALLDIR is empty, not a full path, or too "
                         "long, so no program is run from it. Correct the value and run the installation again.")});

    machine.writeFile("C:\\ProgramData\\FA9StandIns\\devenv.log", "");
    session.clearLog();
    session.setProperty("VS80_INSTALLDIR", "C:\\VS \"8\"\\");
    EXPECT_EQ(run(SetupWOLTTemplateCA), 1603u);
    EXPECT_THAT(runs(), ::testing::IsEmpty()) << "nothing after the refusal either";
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Error: The value C:\\VS \"8\"\\ of VS80_INSTALLDIR holds a double quote and cannot be put "
                         "on a command line. Correct the value and run the installation again.")});
}

TEST_F(IdeTemplates, AnIdeFolderNamedLikeAProgramRunsItsIde) {
    const std::string folder = "C:\\VS\\a.exec\\";
    machine.copyFileIn(std::string(FA9_STANDINS_DIR) + "/devenv", folder + "devenv.exe");
    session.setProperty("VS80_INSTALLDIR", folder);
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{folder + "\\devenv.exe /setup", setup90}));
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

TEST_F(IdeTemplates, UnreadableDirectoriesSkipWhatDependsOnThem) {
    session.setProperty("REMOVE", "ALL");
    session.failGetProperty("VS80_INSTALLDIR", 1615);
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{setup90, refresh90}));
    EXPECT_EQ(log(), (std::vector<std::string>{
                         // the first message of the run: the string library is not loaded yet
                         logged("iMsiGetProperty failed with return code '1615'."),
                         logged("Error: The installer property VS80_INSTALLDIR could not be read.")}));

    machine.writeFile("C:\\ProgramData\\FA9StandIns\\devenv.log", "");
    session.clearLog();
    session.failGetProperty("VS80_INSTALLDIR", 0);
    session.failGetProperty("VS90_INSTALLDIR", 1615);
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{setup80})) << "no 2008 run and no refresh, even at removal";
}

TEST_F(IdeTemplates, UnreadableRemovalStateRunsNoRefresh) {
    session.setProperty("REMOVE", "ALL");
    session.failGetProperty("REMOVE", 1615);
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_EQ(runs(), (std::vector<std::string>{setup80, setup90}));
    EXPECT_EQ(log().back(), logged("Error: The installer property REMOVE could not be read."));
}

TEST_F(IdeTemplates, ExitCodesOfTheIdeAreNotLookedAt) {
    machine.writeFile("C:\\ProgramData\\FA9StandIns\\exitcodes.txt", "devenv /setup 1\n");
    EXPECT_EQ(run(SetupWOLTTemplateCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty());
    EXPECT_EQ(runs().size(), 2u);
}

}  // namespace

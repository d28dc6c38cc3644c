// The install-directory conflict check against the installed copies.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kCopies = "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\InstalledCopies";

class InstallDirTest : public SessionTest {
protected:
    InstallDirTest() {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("UILevel", "5");
        addCopy("FA9COPY1", "C:\\Program Files\\ZNK\\FA9COPY1\\");
        addCopy("FA9COPY2", "D:\\FA9");
    }
    void addCopy(const std::string& name, const std::string& path) {
        machine.registry().setString(Hive::LocalMachine, kCopies + "\\" + name, "FA9 Path Name", path);
    }
};

// INSTALLDIR against the copies' folders (FA9COPY1, FA9COPY2 and the row's own copy).
struct DirCase {
    std::string installDir;
    const char* conflict;
    std::string storedPath;  // a further copy's recorded folder; "": none
    const char* currentDir;  // null: the fixture's
};
void PrintTo(const DirCase& c, std::ostream* os) { *os << c.installDir << " against " << c.storedPath; }

class InstallDirs : public InstallDirTest, public ::testing::WithParamInterface<DirCase> {};

TEST_P(InstallDirs, OnlyTheSameDirectoryConflicts) {
    const DirCase& c = GetParam();
    if (!c.storedPath.empty()) addCopy("FA9COPY3", c.storedPath);
    if (c.currentDir) {
        machine.makeDirs(c.currentDir);
        machine.setCurrentDirectory(c.currentDir);
    }
    session.setProperty("INSTALLDIR", c.installDir);
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 0u);
    EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), c.conflict);
    EXPECT_EQ(machine.messageBoxes.size(), std::string(c.conflict) == "Y" ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Check, InstallDirs,
    ::testing::Values(DirCase{"C:\\Program Files\\ZNK\\FA9COPY1\\", "Y", "", nullptr},
                      DirCase{"c:\\PROGRAM FILES\\znk\\fa9copy1", "Y", "", nullptr},
                      DirCase{"C:\\Program Files\\ZNK\\Other\\..\\FA9COPY1\\.\\", "Y", "", nullptr},
                      DirCase{"D:\\FA9\\", "Y", "", nullptr},
                      DirCase{"C:\\Program Files\\ZNK\\FA9COPY1\\Tools\\", "N", "", nullptr},
                      DirCase{"C:\\Program Files\\ZNK\\", "N", "", nullptr},
                      DirCase{"C:\\Program Files\\ZNK\\FA9COPY10\\", "N", "", nullptr},
                      // An empty INSTALLDIR stands for the current folder.
                      DirCase{"", "Y", "", "D:\\FA9"},
                      // What a command line's backslash-quote leaves behind: the quote and the backslash go.
                      DirCase{"e:\\quoted", "Y", "E:\\Quoted\\\"", nullptr},
                      // A path stored between quotes names the folder inside them.
                      DirCase{"F:\\FA9\\Copy Two\\", "Y", "\"F:\\FA9\\Copy Two\\\"", nullptr},
                      DirCase{"F:\\FA9\\Copy Three\\", "N", "\"F:\\FA9\\Copy Two\\\"", nullptr},
                      DirCase{"f:\\fa9\\copy one\\", "Y", "\"F:\\FA9\\Copy One\"", nullptr},
                      // Both full paths longer than the comparison holds: neither names a folder.
                      DirCase{"C:\\" + std::string(257, 'd'), "N", std::string(250, 'c'), nullptr},
                      // Between its quotes one character more than the unquoted copy holds.
                      DirCase{"C:\\x", "N", "\"" + std::string(260, 'q') + "\"", nullptr}));

TEST_F(InstallDirTest, ConflictIsReportedAndEndsAReducedInstallation) {
    session.setProperty("INSTALLDIR", "D:\\FA9\\");
    session.setProperty("GENERIC_DLG_TITLE", "Setup");
    session.setProperty("UILevel", "2");
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 1603u);
    EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), "Y");
    // The directory is named without its trailing backslash.
    EXPECT_THAT(log(), ElementsAre(logged("Error: The directory D:\\FA9 already holds an installed copy of FA9. "
                                          "Choose a different installation directory for this product.")));
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].caption, "Setup");
    EXPECT_EQ(machine.messageBoxes[0].style, 0x10010u);
}

TEST_F(InstallDirTest, NoCopiesNoConflict) {
    machine.registry().deleteKey(Hive::LocalMachine, kCopies);
    session.setProperty("INSTALLDIR", "D:\\FA9\\");
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 0u);
    EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), "N");
    EXPECT_THAT(log(), IsEmpty());
}

TEST_F(InstallDirTest, CopyWithoutItsPathIsLeftOut) {
    machine.registry().createKey(Hive::LocalMachine, kCopies + "\\BROKEN");  // no path
    addCopy("FA9COPY0", "C:\\Zero");
    session.setProperty("INSTALLDIR", "E:\\New\\");
    // A copy without its path is left out of the list; the check still runs.
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 0u);
    EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), "N");
    EXPECT_THAT(machine.debugOutput, ElementsAre("Invalid Installation Name", "BROKEN"));
}

TEST_F(InstallDirTest, UnreadableVersion8CopyMeansTheCopiesCannotBeListed) {
    machine.registry().setString(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\CurrentVersion", "Version", "8");
    session.setProperty("INSTALLDIR", "E:\\New\\");
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 1603u);
    EXPECT_FALSE(session.hasProperty("p_WOLT_installdir_conflict"));
    EXPECT_THAT(log(), ElementsAre(logged("ERROR: Unable to get FA9 install directories")));
}

TEST_F(InstallDirTest, UnreadableInstallDirIsReportedWithItsCode) {
    session.failGetProperty("INSTALLDIR", 1615);
    EXPECT_EQ(run(CheckWOLTInstallDirCA), 1615u);
    EXPECT_THAT(log(), ElementsAre(logged("Error: The installer property INSTALLDIR could not be read.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

}  // namespace

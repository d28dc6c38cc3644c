// The install-directory conflict check against the installed copies.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>

using namespace fa9test;
using winsim::Hive;
using M = winsim::Machine;
using S = winsim::Session;

namespace {

const std::string kCopies = "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\InstalledCopies";

void addCopy(M& m, const std::string& name, const std::string& path) {
    m.registry().setString(Hive::LocalMachine, kCopies + "\\" + name, "FA9 Path Name", path);
}

class InstallDirTest : public SessionTest {
protected:
    InstallDirTest() {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("UILevel", "5");
        session.setProperty("GENERIC_DLG_TITLE", "Setup");
        addCopy(machine, "FA9COPY1", "C:\\Program Files\\ZNK\\FA9COPY1\\");
        addCopy(machine, "FA9COPY2", "D:\\FA9");
    }
};

// INSTALLDIR against the copies' folders (FA9COPY1, FA9COPY2 and the row's own copy). A
// conflict is reported in a box naming the directory without its trailing backslash;
// only without the full user interface does it end the installation.
struct DirCase {
    std::string installDir;
    const char* conflict;              // p_WOLT_installdir_conflict; null: left unset
    std::string storedPath = "";       // a further copy's recorded folder; "": none
    void (*arrange)(M&, S&) = nullptr;
    UINT rc = 0;
    std::string report = "";  // a log line besides the conflict's
    std::vector<std::string> debug = {};  // what the check traces for the debugger
};
void PrintTo(const DirCase& c, std::ostream* os) { *os << c.installDir << " against " << c.storedPath; }

class InstallDirs : public InstallDirTest, public ::testing::WithParamInterface<DirCase> {};

TEST_P(InstallDirs, OnlyTheSameDirectoryConflicts) {
    const DirCase& c = GetParam();
    if (!c.storedPath.empty()) addCopy(machine, "FA9COPY3", c.storedPath);
    session.setProperty("INSTALLDIR", c.installDir);
    if (c.arrange) c.arrange(machine, session);
    EXPECT_EQ(run(CheckWOLTInstallDirCA), c.rc);
    if (c.conflict) {
        EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), c.conflict);
    } else {
        EXPECT_FALSE(session.hasProperty("p_WOLT_installdir_conflict"));
    }
    const bool conflict = c.conflict && std::string(c.conflict) == "Y";
    std::vector<std::string> expected;
    if (conflict) {
        std::string named = c.installDir;
        if (!named.empty() && named.back() == '\\') named.pop_back();
        expected.push_back(logged("Error: The directory " + named + " already holds an installed copy of FA9. "
                                  "Choose a different installation directory for this product."));
    }
    if (!c.report.empty()) expected.push_back(logged(c.report));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.debugOutput, c.debug);
    ASSERT_EQ(machine.messageBoxes.size(), conflict ? 1u : 0u);
    if (conflict) {
        EXPECT_EQ(machine.messageBoxes[0].caption, "Setup");
        EXPECT_EQ(machine.messageBoxes[0].style, 0x10010u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Check, InstallDirs,
    ::testing::Values(
        DirCase{"C:\\Program Files\\ZNK\\FA9COPY1\\", "Y"}, DirCase{"c:\\PROGRAM FILES\\znk\\fa9copy1", "Y"},
        DirCase{"C:\\Program Files\\ZNK\\Other\\..\\FA9COPY1\\.\\", "Y"}, DirCase{"D:\\FA9\\", "Y"},
        DirCase{"D:\\FA9\\", "Y", "", [](M&, S& s) { s.setProperty("UILevel", "2"); }, 1603u},
        DirCase{"D:\\FA9\\", "N", "", [](M& m, S&) { m.registry().deleteKey(Hive::LocalMachine, kCopies); }},
        DirCase{"C:\\Program Files\\ZNK\\FA9COPY1\\Tools\\", "N"}, DirCase{"C:\\Program Files\\ZNK\\", "N"},
        DirCase{"C:\\Program Files\\ZNK\\FA9COPY10\\", "N"},
        // An empty INSTALLDIR stands for the current folder.
        DirCase{"", "Y", "", [](M& m, S&) { m.makeDirs("D:\\FA9"); m.setCurrentDirectory("D:\\FA9"); }},
        // What a command line's backslash-quote leaves behind: the quote and the backslash go.
        DirCase{"e:\\quoted", "Y", "E:\\Quoted\\\""},
        // A path stored between quotes names the folder inside them.
        DirCase{"F:\\FA9\\Copy Two\\", "Y", "\"F:\\FA9\\Copy Two\\\""},
        DirCase{"F:\\FA9\\Copy Three\\", "N", "\"F:\\FA9\\Copy Two\\\""},
        DirCase{"f:\\fa9\\copy one\\", "Y", "\"F:\\FA9\\Copy One\""},
        // Both full paths longer than the comparison holds: neither names a folder.
        DirCase{"C:\\" + std::string(257, 'd'), "N", std::string(250, 'c')},
        // Between its quotes one character more than the unquoted copy holds; as stored,
        // longer than a copy's path can be, so the copy is left out as one without a path.
        DirCase{"C:\\x", "N", "\"" + std::string(260, 'q') + "\"", nullptr, 0u, "",
                {"Invalid Installation Name", "FA9COPY3"}},
        // A copy of version 8 cannot be read, so none can be listed.
        DirCase{"E:\\New\\", nullptr, "",
                [](M& m, S&) {
                    m.registry().setString(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\CurrentVersion",
                                           "Version", "8");
                },
                1603u, "ERROR: Unable to get FA9 install directories"},
        DirCase{"D:\\FA9\\", nullptr, "", [](M&, S& s) { s.failGetProperty("INSTALLDIR", 1615); }, 1615u,
                "Error: The installer property INSTALLDIR could not be read."},
        // A copy without its path is left out of the list; the check still runs.
        DirCase{"E:\\New\\", "N", "",
                [](M& m, S&) {
                    m.registry().createKey(Hive::LocalMachine, kCopies + "\\BROKEN");
                    addCopy(m, "FA9COPY0", "C:\\Zero");
                },
                0u, "", {"Invalid Installation Name", "BROKEN"}}));

}  // namespace

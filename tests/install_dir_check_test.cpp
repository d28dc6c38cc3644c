// The install-directory conflict check against the installed copies.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <functional>

using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kFa9 = "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\", kCopies = kFa9 + "InstalledCopies";
using InstallDirs = SessionTest;

// INSTALLDIR against the copies' folders (FA9COPY1, FA9COPY2 and the row's own copy). A
// conflict is reported in a box naming the directory without its trailing backslash;
// only without the full user interface does it end the installation.
TEST_F(InstallDirs, OnlyTheSameDirectoryConflicts) {
    installRuntime(stringLibrary("en_US"));
    session.setProperty("GENERIC_DLG_TITLE", "Setup");
    const auto addCopy = [&](const std::string& name, const std::string& path) {
        machine.registry().setString(Hive::LocalMachine, kCopies + "\\" + name, "FA9 Path Name", path);
    };
    const struct {
        std::string installDir;
        const char* conflict;         // p_WOLT_installdir_conflict; null: left unset
        std::string storedPath = "";  // a further copy's recorded folder; "": none
        std::function<void()> arrange = [] {};
        UINT rc = 0;
        std::string report = "";  // a log line besides the conflict's
    } rows[] = {
        {"c:\\PROGRAM FILES\\znk\\fa9copy1", "Y"}, {"C:\\Program Files\\ZNK\\Other\\..\\FA9COPY1\\.\\", "Y"},
        {"D:\\FA9\\", "Y"}, {"C:\\Program Files\\ZNK\\", "N"}, {"C:\\Program Files\\ZNK\\FA9COPY10\\", "N"},
        {"D:\\FA9\\", "Y", "", [&] { session.setProperty("UILevel", "2"); }, 1603u},
        {"D:\\FA9\\", "N", "", [&] { machine.registry().deleteKey(Hive::LocalMachine, kCopies); }},
        // An empty INSTALLDIR stands for the current folder.
        {"", "Y", "", [&] { machine.makeDirs("D:\\FA9"); machine.setCurrentDirectory("D:\\FA9"); }},
        // What a command line's backslash-quote leaves behind: the quote and the backslash go.
        {"e:\\quoted", "Y", "E:\\Quoted\\\""},
        {"f:\\fa9\\copy one\\", "Y", "\"F:\\FA9\\Copy One\""},  // between quotes: the folder inside them
        // Both full paths longer than the comparison holds: neither names a folder.
        {"C:\\" + std::string(257, 'd'), "N", std::string(250, 'c')},
        // Between its quotes one character more than the unquoted copy holds; as stored,
        // longer than a copy's path can be, so the copy is left out as one without a path.
        {"C:\\x", "N", "\"" + std::string(260, 'q') + "\""},
        // A copy of version 8 cannot be read, so none can be listed.
        {"E:\\New\\", nullptr, "",
         [&] { machine.registry().setString(Hive::LocalMachine, kFa9 + "CurrentVersion", "Version", "8"); }, 1603u,
         "ERROR: Unable to get FA9 install directories"},
        {"D:\\FA9\\", nullptr, "", [&] { session.failGetProperty("INSTALLDIR", 1615); }, 1615u,
         "Error: The installer property INSTALLDIR could not be read."},
        // A copy without its path is left out of the list; the check still runs.
        {"E:\\New\\", "N", "", [&] { machine.registry().createKey(Hive::LocalMachine, kCopies + "\\BROKEN"); }}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.installDir + " against " + row.storedPath);
        machine.registry().deleteKey(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\ZNK");
        addCopy("FA9COPY1", "C:\\Program Files\\ZNK\\FA9COPY1\\");
        addCopy("FA9COPY2", "D:\\FA9");
        if (!row.storedPath.empty()) addCopy("FA9COPY3", row.storedPath);
        session.setProperty("UILevel", "5");
        session.removeProperty("p_WOLT_installdir_conflict");
        session.setProperty("INSTALLDIR", row.installDir);
        session.clearLog();
        machine.messageBoxes.clear();
        row.arrange();
        EXPECT_EQ(run(CheckWOLTInstallDirCA), row.rc);
        EXPECT_EQ(session.hasProperty("p_WOLT_installdir_conflict"), row.conflict != nullptr);
        if (row.conflict) { EXPECT_EQ(session.property("p_WOLT_installdir_conflict"), row.conflict); }
        const bool conflict = row.conflict && std::string(row.conflict) == "Y";
        std::vector<std::string> expected;
        if (conflict) {
            std::string named = row.installDir;
            if (!named.empty() && named.back() == '\\') named.pop_back();
            expected.push_back(logged("Error: The directory " + named + " already holds an installed copy of FA9. "
                                      "Choose a different installation directory for this product."));
        }
        if (!row.report.empty()) expected.push_back(logged(row.report));
        EXPECT_EQ(log(), expected);
        ASSERT_EQ(machine.messageBoxes.size(), conflict ? 1u : 0u);
        if (conflict) { EXPECT_EQ(machine.messageBoxes[0].caption, "Setup"); }
        session.failGetProperty("INSTALLDIR", 0);
    }
}

}  // namespace

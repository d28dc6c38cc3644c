// The VC80 assemblies copied into the installation's program folders and marked for
// deletion at the next restart.
#include "actions/exports.h"
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "runtime/assembly_copy.h"

#include <gmock/gmock.h>

#include <filesystem>

using namespace fa9test;
using ::testing::ElementsAre;

namespace {

const std::string kInstall = "C:\\Program Files\\FA9 Server\\";
const std::string kShortInstall = "C:\\PROGRA~1\\FA9SER~1\\";
const char* kOwnInstallDir = "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA";

class AssemblyCopy : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        for (const char* file : kProgramFiles) session.database().addBinary(rowOf(file), rowOf(file) + " bytes");
        // What the user could have put into the runtime folder is never copied.
        machine.writeFile(std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT\\version.dll", "planted");
        makeInstallation();
        session.setProperty("INSTALLDIR", kInstall);
    }
    void makeInstallation() {
        for (const char* folder : {"BIN", "FUNCTION", "msg\\en_US", "msg\\de_DE", "doc"})
            machine.makeDirs(kInstall + folder);
        machine.writeFile(kInstall + "msg\\readme.txt", "not a language folder");
    }
    // The names a host listing gives for the entries of a Windows folder.
    std::vector<std::string> entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(folder)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// One run: every program folder there is gets both assemblies, the package's files and
// nothing else (a read-only copy from before replaced); folders it makes are upper-cased.
// Each file and folder it made is marked for deletion at the next restart, a folder after
// what is in it, and nothing that was there before. The copy's own INSTALLDIR is too short
// to name a folder, so INSTALLDIR serves.
TEST_F(AssemblyCopy, EveryProgramFolderGetsBothAssembliesMarkedFileBeforeFolder) {
    session.setProperty(kOwnInstallDir, "C");
    const std::string old = kInstall + "BIN\\Microsoft.VC80.CRT\\msvcr80.dll";
    machine.writeFile(old, "an old copy");
    ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty());
    std::vector<std::string> made;  // as the restart names them
    for (const std::string folder : {"BIN", "FUNCTION", "msg\\de_DE", "msg\\en_US"}) {
        for (const std::string assembly : {"Microsoft.VC80.CRT", "Microsoft.VC80.MFC"}) {
            const bool before = folder == "BIN" && assembly == "Microsoft.VC80.CRT";
            std::string name = assembly;
            if (!before) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
            for (const char* file : kProgramFiles)
                if (std::string(file).rfind(assembly + "\\", 0) == 0) {
                    const std::string place = folder + "\\" + name + "\\" + rowOf(file);
                    EXPECT_EQ(machine.readFile(kInstall + place), rowOf(file) + " bytes") << place;
                    made.push_back("\\??\\" + kShortInstall + place);
                }
            if (!before) made.push_back("\\??\\" + kShortInstall + folder + "\\" + name);
        }
    }
    EXPECT_FALSE(machine.dirExists(kInstall + "BIN\\routine")) << "only program folders that are there are served";
    const std::vector<std::string> pending = winsim::pendingFileOperations(machine);
    std::vector<std::string> deleted;
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        EXPECT_EQ(pending[i + 1], "") << "a delete, not a rename: " << pending[i];
        deleted.push_back(pending[i]);
    }
    EXPECT_THAT(deleted, ::testing::UnorderedElementsAreArray(made));
    for (size_t i = 0; i < deleted.size(); ++i)
        for (size_t j = i + 1; j < deleted.size(); ++j)
            EXPECT_NE(deleted[j].rfind(deleted[i] + "\\", 0), 0u) << deleted[j] << " is marked after its folder";
}

// The copy's own INSTALLDIR wins (one too short to be a folder is passed over, see the
// run above); a property that cannot be read is reported, and only a package without one
// of the files stops the installation, with nothing copied from anywhere else either.
TEST_F(AssemblyCopy, TheCopysOwnInstallDirWinsAndOnlyAMissingRowStopsTheInstallation) {
    machine.makeDirs("C:\\Program Files\\Other\\BIN");
    session.setProperty(kOwnInstallDir, "C:\\Program Files\\Other\\");
    const std::string large(100000, 'r');  // a row read in more than one piece
    for (auto& row : session.database().rows("Binary"))
        if (row[0].text == "msvcr80.dll") row[1].text = large;
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_EQ(machine.readFile("C:\\Program Files\\Other\\BIN\\MICROSOFT.VC80.CRT\\msvcr80.dll"), large);
    EXPECT_TRUE(machine.dirExists("C:\\Program Files\\Other\\BIN\\MICROSOFT.VC80.MFC"));
    EXPECT_FALSE(machine.dirExists(kInstall + "BIN\\MICROSOFT.VC80.MFC"));

    session.failGetProperty("INSTALLDIR", 1615);
    session.failGetProperty(kOwnInstallDir, 1615);
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    ASSERT_FALSE(log().empty());
    EXPECT_THAT(log().back(), ::testing::HasSubstr("failed with result code -1."));
    EXPECT_EQ(machine.messageBoxes.size(), 1u);

    session.failGetProperty("INSTALLDIR", 0);
    session.clearLog();
    session.database().rows("Binary").pop_back();
    EXPECT_EQ(run(CopyVC80AssembliesCA), 1603u);
    ASSERT_FALSE(log().empty());
    EXPECT_THAT(log().back(), ::testing::HasSubstr("package's record of microsoft.vc80.mfc.manifest cannot be read"));
    EXPECT_FALSE(machine.dirExists(kInstall + "BIN\\MICROSOFT.VC80.MFC"));
}

TEST_F(AssemblyCopy, NestedFoldersAreCopiedUpperCasedToo) {
    const std::string target = kInstall + "BIN\\Microsoft.VC80.CRT";
    machine.writeFile("C:\\Source\\msvcr80.dll", "msvcr80.dll bytes");
    machine.writeFile("C:\\Source\\Policy\\Sub Dir\\p.manifest", "policy");
    EXPECT_EQ(CopyDirectoryTree("C:\\Source", target.c_str()), 0);
    EXPECT_THAT(entries(target), ElementsAre("POLICY", "msvcr80.dll"));
    EXPECT_THAT(entries(target + "\\Policy"), ElementsAre("SUB DIR"));
    EXPECT_EQ(machine.readFile(target + "\\Policy\\Sub Dir\\p.manifest"), "policy");
}

// A volume too small for a program folder's assemblies: the step fails and leaves none of
// them half there; the folders served before stay whole.
TEST_F(AssemblyCopy, AFullVolumeLeavesNoHalfAssembly) {
    for (const char* folder : {"C:\\Tools\\BIN", "C:\\Tools\\FUNCTION", "D:\\Temp"}) machine.makeDirs(folder);
    session.setProperty("INSTALLDIR", "C:\\Tools\\");  // where a standard user may make the copies
    machine.environment["TMP"] = "D:\\Temp";  // a standard user's copy of the package's files goes there first
    machine.token.administrator = false;
    // BIN's two assemblies ("<row> bytes" each file) take 181 bytes, FUNCTION's MFC 97 more, its CRT 84.
    machine.setVolumeFreeSpace('C', 181 + 97 + 40);
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_THAT(log(), ::testing::Contains(::testing::HasSubstr("failed with result code 112.")));
    EXPECT_EQ(machine.readFile("C:\\Tools\\BIN\\MICROSOFT.VC80.CRT\\msvcr80.dll"), "msvcr80.dll bytes");
    EXPECT_FALSE(machine.dirExists("C:\\Tools\\FUNCTION\\MICROSOFT.VC80.MFC"));
    EXPECT_FALSE(machine.dirExists("C:\\Tools\\FUNCTION\\MICROSOFT.VC80.CRT"));
}

// A junction planted where the copy writes, or in what it copies or marks for deletion,
// is skipped with a warning: nothing is written to, or marked below, where it leads, and
// the other program folders are served as always. A program folder that is a link is
// the gate's table's.
TEST_F(AssemblyCopy, LinksAreSkippedNothingIsWrittenOrMarkedWhereTheyLead) {
    const struct {
        const char* link;           // the junction's place below the installation folder
        bool whileCopying = false;  // put there once the copy has made the folder
        bool named = true;          // false: the copy never meets it, so nothing names it
    } rows[] = {{"BIN\\Microsoft.VC80.MFC"},
                {"msg"},  // a folder on the way down to a program folder, not the program folder itself
                // Inside a copy's folder: only what the run wrote there is marked, never followed.
                {"BIN\\MICROSOFT.VC80.CRT\\POLICY", false, false},
                // Swapped in between the copy making the folder and copying into it.
                {"BIN\\MICROSOFT.VC80.MFC", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.link);
        for (const std::string& folder : {kInstall, std::string("C:\\Elsewhere")})
            std::filesystem::remove_all(machine.hostPath(folder));
        makeInstallation();
        session.clearLog();
        machine.writeFile("C:\\Elsewhere\\keep.txt", "keep");
        machine.makeDirs("C:\\Elsewhere\\fr_FR");  // what a followed link at "msg" would serve
        const std::string link = kInstall + row.link;
        const auto plant = [&] {
            std::filesystem::remove_all(machine.hostPath(link));
            machine.makeLink(link, "C:\\Elsewhere");
        };
        if (row.whileCopying)
            machine.onDirectoryCreated = [&, planted = false](const std::string& path) mutable {
                if (!planted && machine.hostPath(path) == machine.hostPath(link)) plant(), planted = true;
            };
        else
            plant();
        EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
        ASSERT_EQ(log().size(), row.named ? 1u : 0u);
        if (row.named) { EXPECT_THAT(log()[0], ::testing::HasSubstr(kShortInstall + row.link + " points elsewhere")); }
        EXPECT_THAT(entries("C:\\Elsewhere"), ElementsAre("fr_FR", "keep.txt"));
        EXPECT_THAT(entries("C:\\Elsewhere\\fr_FR"), ::testing::IsEmpty());
        for (const std::string& op : winsim::pendingFileOperations(machine))
            EXPECT_EQ(op.find("Elsewhere"), std::string::npos) << op;
        EXPECT_EQ(machine.readFile(kInstall + "FUNCTION\\MICROSOFT.VC80.MFC\\mfc80.dll"), "mfc80.dll bytes");
        machine.onDirectoryCreated = nullptr;
    }
}

}  // namespace

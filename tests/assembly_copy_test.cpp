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
const char* kAssemblyFiles[][2] = {
    {"Microsoft.VC80.MFC", "mfc80.dll"},
    {"Microsoft.VC80.MFC", "Microsoft.VC80.MFC.manifest"},
    {"Microsoft.VC80.CRT", "msvcr80.dll"},
    {"Microsoft.VC80.CRT", "Microsoft.VC80.CRT.manifest"},
};

class AssemblyCopy : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        for (const auto& f : kAssemblyFiles)
            machine.writeFile(std::string(kRuntimeDir) + "\\" + f[0] + "\\" + f[1], std::string(f[1]) + " bytes");
        for (const char* folder : {"BIN", "FUNCTION", "msg\\en_US", "msg\\de_DE", "doc"})
            machine.makeDirs(kInstall + folder);
        machine.writeFile(kInstall + "msg\\readme.txt", "not a language folder");
        session.setProperty("INSTALLDIR", kInstall);
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

TEST_F(AssemblyCopy, EveryExistingProgramFolderGetsBothAssemblies) {
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_THAT(log(), ::testing::IsEmpty());
    for (const char* folder : {"BIN", "FUNCTION", "msg\\de_DE", "msg\\en_US"}) {
        // Folders the copy creates are upper-cased; the files keep their names.
        EXPECT_THAT(entries(kInstall + folder), ElementsAre("MICROSOFT.VC80.CRT", "MICROSOFT.VC80.MFC")) << folder;
        EXPECT_THAT(entries(kInstall + folder + "\\Microsoft.VC80.CRT"),
                    ElementsAre("Microsoft.VC80.CRT.manifest", "msvcr80.dll"));
        EXPECT_EQ(machine.readFile(kInstall + folder + "\\Microsoft.VC80.MFC\\mfc80.dll"), "mfc80.dll bytes");
    }
    EXPECT_THAT(entries(kInstall + "doc"), ::testing::IsEmpty()) << "doc\\bin is served, doc is not";
    EXPECT_FALSE(machine.dirExists(kInstall + "BIN\\routine"));
}

TEST_F(AssemblyCopy, EachCopiedFileIsMarkedBeforeItsFolder) {
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    const std::vector<std::string> pending = winsim::pendingFileOperations(machine);
    ASSERT_EQ(pending.size() % 2, 0u);
    std::vector<std::string> deletes;
    for (size_t i = 0; i < pending.size(); i += 2) {
        EXPECT_EQ(pending[i + 1], "") << "a delete has no new name";
        deletes.push_back(pending[i]);
    }
    // Four program folders, two assemblies each, two files and the folder each.
    ASSERT_EQ(deletes.size(), 4u * 2u * 3u);
    const std::string bin = "\\??\\" + kShortInstall + "BIN\\";
    // Listed as the file system lists them: without regard to case.
    EXPECT_EQ(std::vector<std::string>(deletes.begin(), deletes.begin() + 6),
              (std::vector<std::string>{bin + "Microsoft.VC80.MFC\\mfc80.dll",
                                        bin + "Microsoft.VC80.MFC\\Microsoft.VC80.MFC.manifest",
                                        bin + "Microsoft.VC80.MFC",
                                        bin + "Microsoft.VC80.CRT\\Microsoft.VC80.CRT.manifest",
                                        bin + "Microsoft.VC80.CRT\\msvcr80.dll", bin + "Microsoft.VC80.CRT"}));
}

TEST_F(AssemblyCopy, AReadOnlyCopyIsReplaced) {
    const std::string old = kInstall + "BIN\\Microsoft.VC80.CRT\\msvcr80.dll";
    machine.writeFile(old, "an old copy");
    ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_EQ(machine.readFile(old), "msvcr80.dll bytes");
    EXPECT_THAT(entries(kInstall + "BIN"), ::testing::UnorderedElementsAre("Microsoft.VC80.CRT", "MICROSOFT.VC80.MFC"))
        << "an existing folder keeps its name";
}

TEST_F(AssemblyCopy, TheCopysOwnInstallDirWinsUnlessItIsTooShort) {
    machine.makeDirs("C:\\Other\\BIN");
    session.setProperty("INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA", "C:\\Other\\");
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_TRUE(machine.dirExists("C:\\Other\\BIN\\MICROSOFT.VC80.MFC"));
    EXPECT_FALSE(machine.dirExists(kInstall + "BIN\\MICROSOFT.VC80.MFC"));

    session.setProperty("INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA", "C");
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_TRUE(machine.dirExists(kInstall + "BIN\\MICROSOFT.VC80.MFC"));
}

TEST_F(AssemblyCopy, FailuresAreReportedButNeverStopTheInstallation) {
    const std::string failed = logged(
        "Error: An installation step failed with result code -1. Check the preceding lines of this log for the "
        "cause, correct it and run the installation again.");
    session.failGetProperty("INSTALLDIR", 1615);
    session.failGetProperty("INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA", 1615);
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_EQ(log().back(), failed);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);

    // A runtime folder without the assemblies: the copy cannot list its source.
    session.failGetProperty("INSTALLDIR", 0);
    session.clearLog();
    std::filesystem::remove_all(machine.hostPath(std::string(kRuntimeDir) + "\\Microsoft.VC80.MFC"));
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         logged("iMsiGetProperty failed with return code '1615'."),  // strings not loaded yet
                         failed}));
}

TEST_F(AssemblyCopy, NestedFoldersAreCopiedUpperCasedToo) {
    machine.writeFile(std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT\\Policy\\Sub Dir\\p.manifest", "policy");
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    EXPECT_THAT(entries(kInstall + "BIN\\Microsoft.VC80.CRT"),
                ElementsAre("Microsoft.VC80.CRT.manifest", "POLICY", "msvcr80.dll"));
    EXPECT_THAT(entries(kInstall + "BIN\\Microsoft.VC80.CRT\\Policy"), ElementsAre("SUB DIR"));
    EXPECT_EQ(machine.readFile(kInstall + "BIN\\Microsoft.VC80.CRT\\Policy\\Sub Dir\\p.manifest"), "policy");
}

// A junction planted where the copy writes, or in what it copies or marks for deletion,
// is skipped with a warning: nothing is written to, or marked below, where it leads.
struct LinkCase {
    const char* name;
    std::string link;                  // the junction's path, replacing whatever was there
    bool withPolicy;                   // the runtime's CRT assembly has a Policy folder
    std::vector<std::string> warned;   // the link as each walk that met it names it
};
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class LinksAreSkipped : public AssemblyCopy, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinksAreSkipped, NothingIsWrittenOrMarkedWhereTheyLead) {
    const LinkCase& c = GetParam();
    machine.writeFile("C:\\Elsewhere\\keep.txt", "keep");
    if (c.withPolicy) machine.writeFile(std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT\\Policy\\p.manifest", "p");
    machine.makeDirs("C:\\Elsewhere\\Plugin\\ZNK\\client");  // what a link at "security" would lead to
    std::filesystem::remove_all(machine.hostPath(c.link));
    machine.makeLink(c.link, "C:\\Elsewhere");
    EXPECT_EQ(run(CopyVC80AssembliesCA), 0u);
    std::vector<std::string> expected;
    for (const std::string& path : c.warned)
        expected.push_back(logged("Warning: The link " + path +
                                  " points elsewhere and was skipped, so nothing is copied into or deleted through it."));
    EXPECT_EQ(log(), expected);
    EXPECT_THAT(entries("C:\\Elsewhere"), ElementsAre("Plugin", "keep.txt"));
    EXPECT_THAT(entries("C:\\Elsewhere\\Plugin\\ZNK\\client"), ::testing::IsEmpty());
    for (const std::string& op : winsim::pendingFileOperations(machine))
        EXPECT_EQ(op.find("Elsewhere"), std::string::npos) << op;
    // The other program folders are served as always.
    EXPECT_EQ(machine.readFile(kInstall + "FUNCTION\\Microsoft.VC80.MFC\\mfc80.dll"), "mfc80.dll bytes");
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinksAreSkipped,
    ::testing::Values(
        LinkCase{"program_folder", kInstall + "BIN", false, {kShortInstall + "BIN"}},
        LinkCase{"the_copys_place", kInstall + "BIN\\Microsoft.VC80.MFC", false,
                 {kShortInstall + "BIN\\Microsoft.VC80.MFC"}},
        LinkCase{"a_language_folder", kInstall + "msg\\fr_FR", false, {kShortInstall + "msg\\fr_FR"}},
        LinkCase{"the_language_folders_parent", kInstall + "msg", false, {kShortInstall + "msg"}},
        // A folder on the way down to a program folder, not the program folder itself.
        LinkCase{"a_folder_on_the_way", kInstall + "security", false, {kShortInstall + "security"}},
        // Met by the copy, then by the delete walk of the same tree.
        LinkCase{"a_folder_inside_the_copy",
                 kInstall + "BIN\\MICROSOFT.VC80.CRT\\POLICY",
                 true,
                 {kShortInstall + "BIN\\MICROSOFT.VC80.CRT\\POLICY", kShortInstall + "BIN\\Microsoft.VC80.CRT\\POLICY"}},
        // Met once by the copy into each of the four program folders served.
        LinkCase{"a_folder_of_the_source",
                 std::string(kRuntimeDir) + "\\Microsoft.VC80.CRT\\Policy",
                 false,
                 std::vector<std::string>(4, "C:\\USERS\\SETUP\\APPDATA\\LOCAL\\TEMP\\FA9WOLT00000\\MICROSOFT.VC80.CRT\\Policy")}),
    [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.name); });

}  // namespace

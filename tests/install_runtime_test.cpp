// The runtime directory: its name, its contents from the Binary table, what is published,
// and every way the preparation can fail.
#include "actions/exports.h"
#include "fixture.h"
#include "frame/ure.h"
#include "trust/trusted_accounts.h"
#include "runtime/runtime_extraction.h"
#include "runtime/stream_row_hold.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using namespace fa9test;

namespace {

const std::string kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp\\";
const std::string kRuntime0 = kTemp + "FA9WOLT00000";

std::string hostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Where each row lands, relative to the runtime directory.
const std::vector<std::pair<std::string, std::string>> kLayout = {
    {"msvcm80.dll", "Microsoft.VC80.CRT\\msvcm80.dll"}, {"msvcp80.dll", "Microsoft.VC80.CRT\\msvcp80.dll"},
    {"msvcr80.dll", "Microsoft.VC80.CRT\\msvcr80.dll"},
    {"microsoft.vc80.crt.manifest", "Microsoft.VC80.CRT\\microsoft.vc80.crt.manifest"},
    {"mfc80.dll", "Microsoft.VC80.MFC\\mfc80.dll"},     {"mfc80u.dll", "Microsoft.VC80.MFC\\mfc80u.dll"},
    {"mfcm80.dll", "Microsoft.VC80.MFC\\mfcm80.dll"},   {"mfcm80u.dll", "Microsoft.VC80.MFC\\mfcm80u.dll"},
    {"microsoft.vc80.mfc.manifest", "Microsoft.VC80.MFC\\microsoft.vc80.mfc.manifest"},
    {"fa9genreg_install3.dll", "fa9genreg_install3.dll"}, {"fa9osse_install3.dll", "fa9osse_install3.dll"},
    {"fa9install_install3.dll", "fa9install_install3.dll"}, {"commontoolreg.exe", "commontoolreg.exe"},
};

void dropRow(winsim::Session& s, const std::string& name) {
    auto& rows = s.database().rows("Binary");
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const auto& row) { return row.at(0).text == name; }),
               rows.end());
}

class RuntimeTest : public SessionTest {
protected:
    RuntimeTest() {
        session.setProperty("TempFolder", kTemp);
        for (const auto& [row, file] : kLayout) {
            // Larger than one read chunk, and different for every row.
            std::string bytes = row + ":";
            while (bytes.size() < 2500) bytes += row;
            addRow(row, bytes);
        }
        addRow("FA9ISTRING_EN_US", hostFile(stringLibrary("en_US")));
        addRow("FA9ISTRING_DE_DE", hostFile(stringLibrary("de_DE")));
    }

    void addRow(const std::string& name, const std::string& bytes) {
        session.database().addBinary(name, bytes);
        rows_[name] = bytes;
    }
    const std::string& row(const std::string& name) { return rows_.at(name); }
    // The runtime directory the last run published.
    std::string runtime() { return session.property("CURRENT_PROCESS_DIRECTORY"); }

    std::map<std::string, std::string> rows_;
};

TEST_F(RuntimeTest, FillsAndPublishesTheRuntimeDirectory) {
    session.setProperty("ProductLanguage", "1031");
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    for (const auto& [name, file] : kLayout) EXPECT_EQ(machine.readFile(kRuntime0 + "\\" + file), row(name)) << file;
    EXPECT_EQ(machine.readFile(kRuntime0 + "\\fa9istring_v97.dll"), row("FA9ISTRING_DE_DE"));
    EXPECT_EQ(session.property("CURRENT_PROCESS_DIRECTORY"), kRuntime0);
    EXPECT_EQ(session.property("pFA9RuntimeDirectory"), kRuntime0);
    EXPECT_EQ(session.property("PROP_RSP_PROD"), "WOLT_TOOLS");
    EXPECT_EQ(machine.currentDirectory(), kRuntime0);
    EXPECT_THAT(log(), IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
    EXPECT_EQ(winsim::openKernelHandleCount(), 1u) << "the marker the live run holds";
    EXPECT_EQ(URE::existing(), nullptr);
    // A protected folder (below) that the installing user may fill.
    auto list = machine.accessList(kRuntime0);
    EXPECT_TRUE(list && list->isProtected && list->entries.size() == 3 &&
                list->entries[2].sid == machine.token.userSid);
}

// Without a row for the product's language the English one is taken; without a product
// language the system's chooses.
TEST_F(RuntimeTest, StringRowFollowsTheLanguage) {
    session.setProperty("ProductLanguage", "1036");
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(machine.readFile(runtime() + "\\fa9istring_v97.dll"), row("FA9ISTRING_EN_US"));
    EXPECT_THAT(log(), ElementsAre(logged("MsiViewFetch failed with return code '259'.")));
    session.removeProperty("ProductLanguage");
    machine.systemLanguage = 0x0407;
    ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
    EXPECT_EQ(machine.readFile(runtime() + "\\fa9istring_v97.dll"), row("FA9ISTRING_DE_DE"));
}

// Bytes that differ from one position to the next, so a chunk written twice, dropped or
// out of order shows.
std::string patterned(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 2463534242u;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    return bytes;
}

// Each run takes the next free name (a file or a folder of that name is skipped), points
// everything at it and extracts every row byte for byte, here at sizes around the 64 KB
// of one stream read.
TEST_F(RuntimeTest, EachRunTakesTheNextFreeNameAndExtractsByteForByte) {
    machine.writeFile(kTemp + "FA9WOLT00000", "a file");
    machine.makeDirs(kTemp + "FA9WOLT00001");
    int next = 2;
    for (const size_t size : {0, 1, 65535, 65536, 65537, 3 * 65536 + 1}) {
        SCOPED_TRACE(size);
        dropRow(session, "commontoolreg.exe");
        addRow("commontoolreg.exe", patterned(size));
        ASSERT_EQ(run(InitializeWOLTInstallCA), 0u);
        const std::string runtime = kTemp + "FA9WOLT0000" + std::to_string(next++);
        EXPECT_EQ(session.property("CURRENT_PROCESS_DIRECTORY"), runtime);
        EXPECT_EQ(session.property("pFA9RuntimeDirectory"), runtime);
        EXPECT_EQ(machine.currentDirectory(), runtime);
        EXPECT_TRUE(machine.readFile(runtime + "\\commontoolreg.exe") == row("commontoolreg.exe"))
            << "the file differs from its row";
    }
}

// Every way the preparation fails before anything runs from the folder: 1603, the reason
// as the last log line, and nothing left behind (the held first row let go too). A row
// missing from the package, in an assembly folder or beside them, is named after its
// failed fetch, with the runtime directory already published.
struct PreparationFault {
    const char* name;
    void (*arrange)(winsim::Session&);
    std::string lastLine;  // its beginning
    bool fetchFailed = false;
};
void PrintTo(const PreparationFault& c, std::ostream* os) { *os << c.name; }

class PreparationFaults : public RuntimeTest, public ::testing::WithParamInterface<PreparationFault> {};

TEST_P(PreparationFaults, FailTheActionWithTheirReason) {
    GetParam().arrange(session);
    EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
    ASSERT_FALSE(log().empty());
    EXPECT_THAT(log().back(), StartsWith("1: " + GetParam().lastLine));
    if (GetParam().fetchFailed) {
        ASSERT_GE(log().size(), 2u);
        EXPECT_EQ(log()[log().size() - 2], logged("MsiViewFetch failed with return code '259'."));
        EXPECT_EQ(session.property("pFA9RuntimeDirectory"), kRuntime0);
    }
    EXPECT_FALSE(machine.dirExists(kRuntime0)) << "a failed preparation leaves no runtime folder";
    EXPECT_FALSE(machine.fileExists(kRuntime0 + ".live"));
    EXPECT_FALSE(session.hasProperty("CURRENT_PROCESS_DIRECTORY"));
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

void dropStringRows(winsim::Session& s) {
    dropRow(s, "FA9ISTRING_EN_US");
    dropRow(s, "FA9ISTRING_DE_DE");
}

INSTANTIATE_TEST_SUITE_P(
    Runtime, PreparationFaults,
    ::testing::Values(
        PreparationFault{"assembly_row_missing", [](winsim::Session& s) { dropRow(s, "mfcm80u.dll"); },
                         "ERROR:Failed to copy mfcm80u.dll from the binary table of the installation", true},
        PreparationFault{"row_beside_the_assemblies_missing",
                         [](winsim::Session& s) { dropRow(s, "commontoolreg.exe"); },
                         "ERROR:Failed to copy commontoolreg.exe from the binary table of the installation", true},
        PreparationFault{"no_string_row_at_all", dropStringRows,
                         "ERROR:Failed to copy string resources from the binary table of the installation"},
        PreparationFault{"temp_folder_unreadable", [](winsim::Session& s) { s.failGetProperty("TempFolder", 1615); },
                         "ERROR:Unable to retrieve temporary directory from the TempFolder property. Error code is 1615"},
        PreparationFault{"temp_folder_that_does_not_exist",
                         [](winsim::Session& s) { s.setProperty("TempFolder", "C:\\Gone\\Temp\\"); },
                         "ERROR:Unable to retrieve temporary directory. Error code is 3"},
        PreparationFault{"temp_folder_too_long_for_a_name",
                         [](winsim::Session& s) { s.setProperty("TempFolder", "C:\\" + std::string(255, 'd')); },
                         "ERROR:Unable to generate a temporary directory in \"C:\\ddd"},
        // The runtime folder's name fits, the assembly folder's below it does not.
        PreparationFault{"temp_folder_too_long_for_an_assembly",
                         [](winsim::Session& s) {
                             const std::string temp = "C:\\" + std::string(230, 'd') + "\\";
                             winsim::Machine::current().makeDirs(temp);
                             s.setProperty("TempFolder", temp);
                         },
                         "ERROR:Failed to create directory C:\\ddd"},
        PreparationFault{"no_active_database", [](winsim::Session& s) { s.database().available = false; },
                         "ERROR:Failed to get a handle to the active windows install database.  Please contact your "
                         "technical service representative.  Error code is "}),
    [](const ::testing::TestParamInfo<PreparationFault>& i) { return std::string(i.param.name); });

TEST_F(RuntimeTest, PropertyWritesThatFail) {
    session.failSetProperty("CURRENT_PROCESS_DIRECTORY", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(InitializeWOLTInstallCA), 0u);
    session.failSetProperty("PROP_RSP_PROD", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
    EXPECT_THAT(log(), ElementsAre(logged("Failed to set CURRENT_PROCESS_DIRECTORY to " + kRuntime0),
                                   logged("Failed to set CURRENT_PROCESS_DIRECTORY to " + kTemp + "FA9WOLT00001"),
                                   logged("Failed to set PROP_RSP_PROD to WOLT_TOOLS")));
}

// A name below the runtime directory made by someone else between the folder's creation
// and the extraction (the installing user may write there): refused, nothing more made.
TEST_F(RuntimeTest, ANameTakenBelowTheRuntimeDirectoryIsRefusedWith7113) {
    const std::pair<const char*, bool> cases[] = {  // the name, planted as a folder (else as a file)
        {"Microsoft.VC80.CRT", true}, {"commontoolreg.exe", false}, {"fa9osse_install3.dll", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        session.clearLog();
        machine.messageBoxes.clear();
        session.installerBoxes.clear();
        std::string runtime, planted;
        machine.onDirectoryCreated = [&](const std::string& path) {
            if (!runtime.empty() || path.rfind(kTemp + "FA9WOLT", 0) != 0) return;
            runtime = path;
            planted = path + "\\" + c.first;
            if (c.second)
                machine.makeDirs(planted);
            else
                machine.writeFile(planted, "planted");
        };
        EXPECT_EQ(run(InitializeWOLTInstallCA), 1603u);
        EXPECT_THAT(log(), ElementsAre(logged(
                               "Error: The name " + planted +
                               " that the installation needs in its temporary folder already exists. "
                               "Remove it or use another TEMP folder, then run the installation again.")));
        EXPECT_EQ(machine.messageBoxes.size() + session.installerBoxes.size(), 1u);
        if (!c.second) {
            EXPECT_EQ(machine.readFile(planted), "planted");
        } else {
            // Nothing after the refusal was extracted.
            EXPECT_FALSE(machine.fileExists(runtime + "\\commontoolreg.exe"));
        }
        EXPECT_FALSE(session.hasProperty("CURRENT_PROCESS_DIRECTORY"));
        EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
        EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
    }
}

// Under Wine, letting go of the last stream right after reading it can hang the
// installer: a hold keeps the first row offered until it ends, and only that one.
TEST_F(SessionTest, AStreamRowHoldKeepsTheFirstRowOfferedUntilItEnds) {
    const size_t before = winsim::openMsiHandleCount();
    unique_msihandle loose(MsiCreateRecord(2));
    StreamRowHold::offer(loose);
    EXPECT_TRUE(loose) << "without a hold the caller keeps its record";
    {
        StreamRowHold outer;
        StreamRowHold hold;
        unique_msihandle first(MsiCreateRecord(2)), second(MsiCreateRecord(2));
        StreamRowHold::offer(first);
        StreamRowHold::offer(second);
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        second.reset();
        EXPECT_EQ(winsim::openMsiHandleCount(), before + 2);  // the loose record and the held one
    }
    loose.reset();
    EXPECT_EQ(winsim::openMsiHandleCount(), before);
}

// ---------------------------------------------------------------- protected folders

// Its own list, nothing from above: SYSTEM, the administrators and, when asked, the
// installing user may do anything inside, and what is made inside inherits that.
TEST_F(SessionTest, ProtectedFolderCarriesItsOwnListAndIsNeverReused) {
    const char* user = "S-1-5-21-1004336348-1177238915-682003330-1003";
    machine.token = {user, false};
    for (const bool withUser : {true, false}) {
        SCOPED_TRACE(withUser);
        const char* path = withUser ? "C:\\P" : "C:\\R";
        ASSERT_TRUE(iCreateProtectedFolder(path, withUser));
        auto list = machine.accessList(path);
        ASSERT_TRUE(list.has_value());
        EXPECT_TRUE(list->isProtected);
        EXPECT_EQ(list->owner, user);
        std::vector<std::string> sids = {"S-1-5-18", "S-1-5-32-544"};
        if (withUser) sids.push_back(user);
        ASSERT_EQ(list->entries.size(), sids.size());
        for (size_t i = 0; i < sids.size(); ++i) {
            EXPECT_EQ(list->entries[i].sid, sids[i]);
            EXPECT_TRUE(list->entries[i].allow && list->entries[i].inheritable && !list->entries[i].inheritOnly) << i;
            EXPECT_EQ(list->entries[i].rights, static_cast<DWORD>(FILE_ALL_ACCESS)) << i;
        }
    }
    // A folder already there (anyone may have made it) is refused and left as it is.
    machine.makeDirs("C:\\Q");
    EXPECT_FALSE(iCreateProtectedFolder("C:\\Q", true));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(machine.accessList("C:\\Q").has_value());
    EXPECT_FALSE(iCreateProtectedFolder("C:\\Gone\\P", false));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(iCreateProtectedFolder("", false));
    EXPECT_EQ(winsim::openLocalAllocationCount(), 0u);
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
}

}  // namespace

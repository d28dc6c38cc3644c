// A machine with one installer session, the string libraries and the sibling allocator
// library at hand: the ground most host tests stand on.
#pragma once

#include "runtime/program_copy.h"
#include "winsim/control.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fa9test {

// Where the installation's runtime folder lies in these tests.
inline const char* kRuntimeDir = "C:\\Users\\setup\\AppData\\Local\\Temp\\FA9WOLT00000";

// The line the installer log shows for an information message carrying `text`.
inline std::string logged(const std::string& text) { return "1: " + text + " "; }

// The built string library of one locale ("en_US", "de_DE", "ja_JP").
inline std::string stringLibrary(const std::string& locale) {
    return std::string(FA9_STRINGS_DIR) + "/" + locale + "/fa9istring_v97.dll";
}

// A string library with short known texts ("ERR: ", "Failed with code %1.", ...), made
// for the frame's tests: "en_US" or "de_DE".
inline std::string frameStrings(const std::string& locale) {
    return std::string(FA9_TEST_DATA_DIR) + "/frame/" + locale + "/fa9istring_v97.dll";
}

// The registration program and the VC80 files beside it, by their place below the
// folder they are written to; each file's Binary row is its name without the folder.
inline const char* const kProgramFiles[] = {
    "commontoolreg.exe", "Microsoft.VC80.CRT\\msvcm80.dll", "Microsoft.VC80.CRT\\msvcp80.dll",
    "Microsoft.VC80.CRT\\msvcr80.dll", "Microsoft.VC80.CRT\\microsoft.vc80.crt.manifest",
    "Microsoft.VC80.MFC\\mfc80.dll", "Microsoft.VC80.MFC\\mfc80u.dll", "Microsoft.VC80.MFC\\mfcm80.dll",
    "Microsoft.VC80.MFC\\mfcm80u.dll", "Microsoft.VC80.MFC\\microsoft.vc80.mfc.manifest"};
static_assert(sizeof kProgramFiles / sizeof *kProgramFiles == ProgramCopy::kProgramFileCount,
              "the library copies as many files as this list names");
inline std::string rowOf(const std::string& file) { return file.substr(file.rfind('\\') + 1); }

class SessionTest : public ::testing::Test {
protected:
    SessionTest();
    // The engine and the string libraries it kept belong to this test's machine.
    ~SessionTest() override;

    // Puts the runtime folder in place as the installation leaves it: the string library
    // (a host path), the sibling allocator library unless told otherwise, the folder
    // published as pFA9RuntimeDirectory and made the current directory.
    void installRuntime(const std::string& strings, bool withAllocator = true);

    // Runs `ca` and returns its result.
    UINT run(UINT(WINAPI* ca)(MSIHANDLE)) { return session.run(ca); }

    std::vector<std::string> log() const { return session.logLines(); }

    winsim::Machine machine;
    winsim::Session session{machine};
};

// The registration program's stand-in and the VC80 files in `folder`, each also a Binary
// row of the package, as the runtime folder's extraction leaves them.
void putProgramFiles(winsim::Session& session, const std::string& folder);

// The installer's copy of the package, with `productCode`, where Windows keeps it (only
// SYSTEM and the administrators may write there): the DATABASE of a script action's data.
inline const char* kScriptPackage = "C:\\Windows\\Installer\\5fa9c.msi";
void writeScriptPackage(winsim::Session& session, const char* productCode);

// One row's own machine, for the tables that a plain TEST loops over: the fixture `T`,
// set up, with what the rows use made public.
template <typename T>
struct Fresh : T {
    Fresh() { this->SetUp(); }
    void TestBody() override {}
    using T::log;
    using T::machine;
    using T::run;
    using T::session;
};

// The registration program ready to run from the runtime folder (putProgramFiles), its
// INSTALLDIR made, and the properties its actions read.
class RegistrationTest : public SessionTest {
protected:
    void SetUp() override;
};
inline const char* kInstallDir = "C:\\Program Files\\FA9 Tools\\";

// The product's tools component and the process PATH the environment's preparation
// reads: it makes PATH the runtime folder, the tools folder, then the old PATH.
struct ToolsPath {
    static constexpr const char* kProduct = "{0E7A1C52-5D2B-4F0B-9C43-5A7F0D1B2C31}";
    static constexpr const char* kComponent = "{FA997000-9ABA-4C3A-0731-AAAAAA4FE25C}";
    static constexpr const char* kDir = "C:\\Program Files\\FA9\\tools";
    static constexpr const char* kOld = "C:\\Windows\\system32;C:\\Windows";
    static std::string prepared() { return std::string(kRuntimeDir) + ";" + kDir + ";" + kOld; }
    // The component installed locally, PATH set and the runtime folder published.
    static void install(winsim::Machine& machine, winsim::Session& session);
};

// The Binary rows the runtime folder is extracted from, in the order InitializeWOLTInstallCA
// extracts them: the VC80 files, the sibling libraries, the registration program.
std::vector<std::string> runtimeRows();
// Adds those rows, each filled by `bytes`, and the English and German string libraries'.
void addRuntimeRows(winsim::Session& session, const std::function<std::string(const std::string& row)>& bytes);

// The log lines for information messages carrying each of `texts`.
inline std::vector<std::string> logged(const std::vector<std::string>& texts) {
    std::vector<std::string> lines;
    for (const std::string& text : texts) lines.push_back(logged(text));
    return lines;
}

// The installer's TempFolder in these tests, where written response files go.
inline const std::string kTempFolder = "C:\\Users\\setup\\AppData\\Local\\Temp\\";

// Adds a feature (made with the Feature table if it has none yet) and its states; a parent
// of "" is none.
inline void addFeature(winsim::Session& session, const std::string& name, const std::string& parent,
                       const std::string& title, int display, INSTALLSTATE installed = INSTALLSTATE_ABSENT,
                       INSTALLSTATE action = INSTALLSTATE_LOCAL) {
    using winsim::Cell;
    if (!session.database().hasTable("Feature"))
        session.database().createTable("Feature", {"Feature", "Feature_Parent", "Title", "Description", "Display",
                                                   "Level", "Directory_", "Attributes"});
    session.database().insertRow("Feature", {Cell::str(name), parent.empty() ? Cell::null() : Cell::str(parent),
                                             Cell::str(title), Cell::null(), Cell::integer(display), Cell::integer(1),
                                             Cell::str("INSTALLDIR"), Cell::integer(0)});
    session.setFeatureState(name, installed, action);
}

// Where the deferred property store lies below a user's key (HKEY_USERS\<SID>) or
// HKEY_CURRENT_USER.
inline const std::string kStoreKey = "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95";

// A session for the store's writer, PreProcessInstallCA: the user's key and UserSID, three
// names in the Property table, one property set outside it.
class StoreTest : public SessionTest {
protected:
    void SetUp() override;
    std::optional<std::string> stored(const std::string& name) {
        return machine.registry().getString(winsim::Hive::Users, store, name);
    }
    const std::string sid = "S-1-5-21-1004336348-1177238915-682003330-512", store = sid + "\\" + kStoreKey;
};

// The frame inside one custom action, with the frame's own string library and a dialog title.
class FrameTest : public SessionTest {
protected:
    void SetUp() override;
    // One report from inside a custom action, `token` (if any) as its %1.
    int report(uint32_t flags, uint32_t message, const char* token = nullptr, bool silent = false);
    void forgetOutput();
};

}  // namespace fa9test

// A machine with one installer session, the string libraries and the sibling allocator
// library at hand: the ground most host tests stand on.
#pragma once

#include "runtime/program_copy.h"
#include "winsim/control.h"

#include <gtest/gtest.h>

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

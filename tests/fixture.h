// A machine with one installer session, the string libraries and the sibling allocator
// library at hand: the ground most host tests stand on.
#pragma once

#include "winsim/control.h"

#include <gtest/gtest.h>

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

}  // namespace fa9test

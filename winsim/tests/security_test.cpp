// File and folder access lists as GetNamedSecurityInfoA hands them out, which the
// library's check of where the script may run a program rests on: Windows' own lists
// for the root and the system's folders, what inherits them, and the ACL's layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "winsim/control.h"

namespace {

// One ACE as "type flags mask SID", in hex.
std::vector<std::string> aces(const char* path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                   nullptr, &dacl, nullptr, &descriptor));
    std::vector<std::string> out;
    for (DWORD i = 0; dacl && i <= dacl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            EXPECT_EQ(i, dacl->AceCount) << "only the index past the last fails";
            break;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        LPSTR sid = nullptr;
        EXPECT_TRUE(ConvertSidToStringSidA(const_cast<DWORD*>(&allowed->SidStart), &sid));
        char text[64];
        std::snprintf(text, sizeof text, "%x %02x %08x ", allowed->Header.AceType, allowed->Header.AceFlags,
                      static_cast<unsigned>(allowed->Mask));
        out.push_back(text + std::string(sid ? sid : "?"));
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return out;
}

// A folder made below the root inherits what the root passes on: signed-in users may
// change it (their inheritance-only entry now applies), CREATOR OWNER is passed on
// further; a file inside shows no inheritance flags and no inheritance-only entries.
TEST(FileSecurity, WhatIsMadeBelowTheRootInheritsItsList) {
    winsim::Machine machine;
    machine.writeFile("C:\\Tools\\A\\f.txt", "x");
    EXPECT_EQ(aces("C:\\Tools\\A"), (std::vector<std::string>{
                                         "0 13 001f01ff S-1-5-18", "0 13 001f01ff S-1-5-32-544",
                                         "0 13 001200a9 S-1-5-32-545", "0 13 001301bf S-1-5-11",
                                         "0 1b 10000000 S-1-3-0"}));
    EXPECT_EQ(aces("C:\\Tools\\A\\f.txt"),
              (std::vector<std::string>{"0 10 001f01ff S-1-5-18", "0 10 001f01ff S-1-5-32-544",
                                        "0 10 001200a9 S-1-5-32-545", "0 10 001301bf S-1-5-11"}));
    // Program Files passes on nothing that lets users write; a denial stays one.
    machine.makeDirs("C:\\Program Files\\P");
    machine.setAccessList("C:\\Program Files\\P", {"", false, {{"S-1-5-21-1-2-3-1009", false, true, DELETE}}});
    EXPECT_EQ(aces("C:\\Program Files\\P\\"),
              (std::vector<std::string>{"1 03 00010000 S-1-5-21-1-2-3-1009",
                                        "0 13 001f01ff S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                        "0 13 001f01ff S-1-5-18", "0 13 001f01ff S-1-5-32-544",
                                        "0 13 001200a9 S-1-5-32-545", "0 1b 10000000 S-1-3-0"}));
    EXPECT_EQ(winsim::openLocalAllocationCount(), 0u);
}

}  // namespace

// File and folder access lists as GetNamedSecurityInfoA hands them out, which the
// library's check of where the script may run a program rests on: Windows' own lists
// for the root and the system's folders, what inherits them, and the ACL's layout. And
// what the file-safety gate rests on: owners read through a handle, SIDs compared as
// SIDs, drive types, paths on other machines, deletes through a handle.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

// The owner read through a handle is the held object's, after its name was given to
// another folder; a link opened as itself answers for itself.
TEST(FileSecurity, AHandleAnswersForWhatItHolds) {
    winsim::Machine machine;
    const std::string x = "S-1-5-21-1-2-3-1001", y = "S-1-5-21-1-2-3-1002", z = "S-1-5-21-1-2-3-1003";
    machine.makeDirs("C:\\Tools\\A");
    machine.setOwner("C:\\Tools\\A", winsim::kSidAdministrators);
    machine.makeDirs("C:\\Tools\\Real");
    machine.setOwner("C:\\Tools\\Real", x);
    machine.makeLink("C:\\Tools\\L", "C:\\Tools\\Real");
    machine.setOwner("C:\\Tools\\L", y, true);
    const DWORD link = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    const struct {
        const char* path;
        DWORD access, flags, result;
        std::string owner;
    } rows[] = {{"C:\\Tools\\A", READ_CONTROL | FILE_READ_DATA, link, ERROR_SUCCESS, winsim::kSidAdministrators},
                {"C:\\Tools\\A", GENERIC_READ, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS, winsim::kSidAdministrators},
                {"C:\\Tools\\A", FILE_READ_DATA | FILE_READ_ATTRIBUTES, link, ERROR_ACCESS_DENIED, ""},
                {"C:\\Tools\\L", READ_CONTROL, link, ERROR_SUCCESS, y},
                {"C:\\Tools\\L", READ_CONTROL, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS, x}};
    for (const auto& row : rows) {
        HANDLE h = CreateFileA(row.path, row.access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, row.flags, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << row.path;
        ASSERT_TRUE(MoveFileExA("C:\\Tools\\A", "C:\\Tools\\Old", 0));
        ASSERT_TRUE(CreateDirectoryA("C:\\Tools\\A", nullptr));
        machine.setOwner("C:\\Tools\\A", z);
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_EQ(GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                                  &descriptor),
                  row.result)
            << row.path << " " << row.access;
        LPSTR text = nullptr;
        if (owner && ConvertSidToStringSidA(owner, &text)) {
            EXPECT_EQ(text, row.owner) << row.path << " " << row.flags;
        }
        LocalFree(text);
        LocalFree(descriptor);
        CloseHandle(h);
        ASSERT_TRUE(RemoveDirectoryA("C:\\Tools\\A"));
        ASSERT_TRUE(MoveFileExA("C:\\Tools\\Old", "C:\\Tools\\A", 0));
    }
    EXPECT_EQ(GetSecurityInfo(nullptr, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              nullptr),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(winsim::openLocalAllocationCount(), 0u);
}

// Aliases and the S-1-... form, compared as SIDs; what is no SID is refused.
TEST(FileSecurity, SidsAreComparedAsSids) {
    winsim::Machine machine;
    PSID system = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-18", &system));
    const struct {
        const char* text;
        const char* sid;  // null: refused
        DWORD length;
    } rows[] = {{"SY", "S-1-5-18", 12},        {"S-1-5-18", "S-1-5-18", 12}, {"BA", "S-1-5-32-544", 16},
                {"S-1-5-21-1-2-3-500", "S-1-5-21-1-2-3-500", 28}, {"S-1-5-", nullptr, 0},
                {"S-1-281474976710656-1", nullptr, 0}, {"S-1-0-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", nullptr, 0}};
    for (const auto& row : rows) {
        PSID sid = nullptr;
        EXPECT_EQ(ConvertStringSidToSidA(row.text, &sid), row.sid ? TRUE : FALSE) << row.text;
        if (!row.sid) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID)) << row.text;
            continue;
        }
        LPSTR text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(sid, &text));
        EXPECT_STREQ(text, row.sid);
        EXPECT_TRUE(IsValidSid(sid));
        EXPECT_EQ(GetLengthSid(sid), row.length) << row.text;
        EXPECT_EQ(EqualSid(sid, system) != FALSE, std::string(row.sid) == "S-1-5-18") << row.text;
        LocalFree(text);
        LocalFree(sid);
    }
    LocalFree(system);
    EXPECT_EQ(winsim::openLocalAllocationCount(), 0u);
}

// Drive types, and paths on another machine: every call that names one reaches the
// server, a remote drive's type is known without reaching it, and the path's form stays.
TEST(FileSecurity, RootsAndPathsOnOtherMachines) {
    winsim::Machine machine;
    machine.setDriveType('E', DRIVE_REMOVABLE);
    machine.setDriveType('Z', DRIVE_REMOTE);
    machine.writeFile("\\\\srv\\share\\x\\f.txt", "x");
    machine.setOwner("\\\\srv\\share\\x\\f.txt", "S-1-5-21-1-2-3-1001");
    const struct {
        const char* root;
        UINT type;
        size_t touches;
    } rows[] = {{"C:\\", DRIVE_FIXED, 0}, {"C:\\Windows\\", DRIVE_NO_ROOT_DIR, 0},
                {"Q:\\", DRIVE_NO_ROOT_DIR, 0}, {"E:\\", DRIVE_REMOVABLE, 0}, {"Z:\\", DRIVE_REMOTE, 0},
                {"\\\\srv\\share\\", DRIVE_REMOTE, 1}, {"\\\\?\\UNC\\srv\\share\\", DRIVE_REMOTE, 1},
                {"\\\\srv\\none\\", DRIVE_NO_ROOT_DIR, 1}};
    for (const auto& row : rows) {
        const size_t before = machine.remoteTouches();
        EXPECT_EQ(GetDriveTypeA(row.root), row.type) << row.root;
        EXPECT_EQ(machine.remoteTouches() - before, row.touches) << row.root;
    }
    EXPECT_EQ(GetFileAttributesA("\\\\?\\UNC\\SRV\\share\\x\\f.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA("Z:\\f.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("\\\\?\\C:\\Windows"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(machine.remoteTouches(), 5u);
    HANDLE h =
        CreateFileA("\\\\srv\\share\\x\\f.txt", READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char path[MAX_PATH] = {};
    EXPECT_GT(GetFinalPathNameByHandleA(h, path, sizeof path, 0), 0u);
    EXPECT_STREQ(path, "\\\\?\\UNC\\srv\\share\\x\\f.txt");
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              &descriptor),
              ERROR_SUCCESS);
    PSID user = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-21-1-2-3-1001", &user));
    EXPECT_TRUE(EqualSid(owner, user));
    LocalFree(user);
    LocalFree(descriptor);
    CloseHandle(h);
    for (const char* kept : {"\\\\?\\C:\\a\\..\\b", "\\\\srv\\share\\x\\f.txt", "\\\\?\\UNC\\srv\\share\\.\\x"}) {
        EXPECT_EQ(GetFullPathNameA(kept, sizeof path, path, nullptr), std::strlen(kept));
        EXPECT_STREQ(path, kept);
    }
    EXPECT_GT(GetFullPathNameA("//srv/share/x/../y", sizeof path, path, nullptr), 0u);
    EXPECT_STREQ(path, "\\\\srv\\share\\y");
}

// A delete through a handle takes an empty folder, or a link itself (never what it leads
// to); a folder held without delete sharing cannot be renamed.
TEST(FileSecurity, DeletesThroughAHandle) {
    winsim::Machine machine;
    machine.writeFile("C:\\T\\Full\\f.txt", "x");
    machine.makeDirs("C:\\T\\Empty");
    machine.makeLink("C:\\T\\L", "C:\\T\\Full");
    const DWORD asItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    const struct {
        const char* path;
        BOOL marked;
        DWORD attributes;
        bool gone;
    } rows[] = {{"C:\\T\\Empty", TRUE, FILE_ATTRIBUTE_DIRECTORY, true},
                {"C:\\T\\Full", FALSE, FILE_ATTRIBUTE_DIRECTORY, false},
                {"C:\\T\\L", TRUE, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, true}};
    for (const auto& row : rows) {
        HANDLE h = CreateFileA(row.path, DELETE | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, asItself, nullptr);
        FILE_BASIC_INFO basic = {};
        EXPECT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic));
        EXPECT_EQ(basic.FileAttributes, row.attributes) << row.path;
        EXPECT_FALSE(MoveFileExA(row.path, "C:\\Moved", 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << row.path;
        FILE_DISPOSITION_INFO discard = {TRUE};
        EXPECT_EQ(SetFileInformationByHandle(h, FileDispositionInfo, &discard, sizeof discard), row.marked) << row.path;
        CloseHandle(h);
        EXPECT_EQ(GetFileAttributesA(row.path) == INVALID_FILE_ATTRIBUTES, row.gone) << row.path;
    }
    EXPECT_EQ(machine.readFile("C:\\T\\Full\\f.txt"), "x");
}

}  // namespace

// The parts of the simulated registry the library's behaviour rests on: access lists
// that answer to the token, and WOW64 redirection of the 32-bit view.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "winsim/control.h"

namespace {

using winsim::Hive;

constexpr char kApp[] = "Software\\Vendor\\App";

class RegistryTest : public ::testing::Test {
protected:
    winsim::Machine machine;
    winsim::Registry& reg = machine.registry();

    HKEY open(HKEY root, const char* path, REGSAM sam) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, sam, &h)) << path;
        return h;
    }
    HKEY create(HKEY root, const char* path, REGSAM sam, DWORD* disposition = nullptr) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &h, disposition))
            << path;
        return h;
    }
    void TearDown() override { EXPECT_EQ(0u, reg.openHandleCount()) << "a test leaked a key handle"; }
};


// A key's access list answers to the token the process runs as, and passes down to its
// subkeys; a subkey's own unprotected list adds to what it inherits.
TEST_F(RegistryTest, KeyAccessListsAnswerToTheToken) {
    const std::string sub = std::string(kApp) + "\\Sub";
    reg.createKey(Hive::CurrentUser, sub + "\\Own");
    const char* user = "S-1-5-21-7-7-7-1001";
    reg.setAccessList(Hive::CurrentUser, kApp,
                      {winsim::kSidAdministrators, true,
                       {{winsim::kSidSystem, true, true}, {winsim::kSidAdministrators, true, true}}});
    reg.setAccessList(Hive::CurrentUser, sub + "\\Own", {user, false, {{user, true, true}}});
    struct Case {
        winsim::Machine::Token token;
        LONG sub, own;
    } cases[] = {{{user, false}, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
                 {{winsim::kSidSystem, true}, ERROR_SUCCESS, ERROR_SUCCESS},
                 {{"S-1-5-21-7-7-7-1002", false}, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}};
    for (const Case& c : cases) {
        machine.token = c.token;
        HKEY h = nullptr;
        EXPECT_EQ(c.sub, RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_SET_VALUE, &h)) << c.token.userSid;
        if (h) RegCloseKey(h);
        h = nullptr;
        EXPECT_EQ(c.own, RegOpenKeyExA(HKEY_CURRENT_USER, (sub + "\\Own").c_str(), 0, KEY_WRITE, &h))
            << c.token.userSid;
        if (h) RegCloseKey(h);
        RegCloseKey(open(HKEY_CURRENT_USER, sub.c_str(), KEY_READ));  // reading stays open
    }
}

// Where a create of HKLM\SOFTWARE\Vendor\App lands, by process bitness and view flag.
struct ViewCase {
    bool wow64Process;
    REGSAM flag;
    const char* physical;
};
class Wow64View : public RegistryTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(Wow64View, RedirectsSoftwareForThe32BitView) {
    const ViewCase c = GetParam();
    machine.wow64Process = c.wow64Process;
    HKEY h = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", KEY_ALL_ACCESS | c.flag);
    reg.createKey(Hive::LocalMachine, std::string(c.physical) + "\\Seen");
    char name[16];
    DWORD cch = sizeof(name);
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Seen", name);
    RegCloseKey(h);
    EXPECT_EQ(
        std::vector<std::string>{"Vendor"},
        reg.subkeys(Hive::LocalMachine, std::string(c.physical).substr(0, std::string(c.physical).rfind("\\Vendor"))));
}

INSTANTIATE_TEST_SUITE_P(Registry, Wow64View,
                         ::testing::Values(ViewCase{true, 0, "SOFTWARE\\WOW6432Node\\Vendor\\App"},
                                           ViewCase{true, KEY_WOW64_32KEY, "SOFTWARE\\WOW6432Node\\Vendor\\App"},
                                           ViewCase{true, KEY_WOW64_64KEY, "SOFTWARE\\Vendor\\App"},
                                           ViewCase{false, 0, "SOFTWARE\\Vendor\\App"},
                                           ViewCase{false, KEY_WOW64_64KEY, "SOFTWARE\\Vendor\\App"},
                                           ViewCase{false, KEY_WOW64_32KEY, "SOFTWARE\\WOW6432Node\\Vendor\\App"}));

TEST_F(RegistryTest, SharedKeysAndOtherHivesAreNotRedirected) {
    machine.wow64Process = true;
    struct {
        HKEY root;
        Hive hive;
        const char* logical;
        const char* physical;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, Hive::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\X",
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\X"},
        {HKEY_LOCAL_MACHINE, Hive::LocalMachine, "SOFTWARE\\Classes\\.txt", "SOFTWARE\\Classes\\.txt"},
        {HKEY_LOCAL_MACHINE, Hive::LocalMachine, "SOFTWARE\\Classes\\CLSID\\{1}",
         "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{1}"},
        {HKEY_LOCAL_MACHINE, Hive::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P",
         "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P"},
        {HKEY_LOCAL_MACHINE, Hive::LocalMachine, "SYSTEM\\CurrentControlSet\\X", "SYSTEM\\CurrentControlSet\\X"},
        {HKEY_CURRENT_USER, Hive::CurrentUser, "Software\\Vendor", "Software\\Vendor"},
    };
    for (const auto& c : cases) {
        RegCloseKey(create(c.root, c.logical, KEY_WRITE));
        EXPECT_TRUE(reg.keyExists(c.hive, c.physical)) << c.logical;
    }
}

TEST_F(RegistryTest, TheViewSticksToTheHandleAndFaultsFollowRedirection) {
    machine.wow64Process = true;
    reg.createKey(Hive::LocalMachine, "SOFTWARE\\Vendor\\App64");
    reg.createKey(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\Vendor\\App32");
    HKEY sw64 = open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ | KEY_WOW64_64KEY);
    RegCloseKey(open(sw64, "Vendor\\App64", KEY_READ));
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(sw64, "Vendor\\App32", 0, KEY_READ, &h));
    RegCloseKey(open(sw64, "Vendor\\App32", KEY_READ | KEY_WOW64_32KEY));  // an explicit flag still counts
    RegCloseKey(open(sw64, "WOW6432Node\\Vendor\\App32", KEY_READ));
    RegCloseKey(sw64);

    reg.failOpen(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\Vendor", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, &h));
    RegCloseKey(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", KEY_READ | KEY_WOW64_64KEY));
}

TEST_F(RegistryTest, DeleteKeyExPicksTheViewDeleteKeyUsesTheProcesss) {
    machine.wow64Process = true;
    reg.createKey(Hive::LocalMachine, "SOFTWARE\\Vendor\\App");
    reg.createKey(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\Vendor\\App");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", KEY_WOW64_64KEY, 0));
    EXPECT_FALSE(reg.keyExists(Hive::LocalMachine, "SOFTWARE\\Vendor\\App"));
    EXPECT_TRUE(reg.keyExists(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\Vendor\\App"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App"));
    EXPECT_FALSE(reg.keyExists(Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\Vendor\\App"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", KEY_WOW64_64KEY | KEY_WOW64_32KEY, 0));
}

}  // namespace

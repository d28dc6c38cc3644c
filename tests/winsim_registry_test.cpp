// The simulated registry against what Windows does: the Reg*A buffer and length rules,
// enumeration, access rights, deleted keys, faults and WOW64 redirection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "winsim/control.h"

namespace {

using winsim::Hive;

constexpr LONG kBadPathname = 161;  // ERROR_BAD_PATHNAME
constexpr LONG kNoAccess = 998;     // ERROR_NOACCESS
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

TEST_F(RegistryTest, SeededValuesReadBackThroughWin32WithNamesWithoutRegardToCase) {
    reg.setString(Hive::CurrentUser, kApp, "InstallDir", "C:\\App");
    reg.setDword(Hive::CurrentUser, kApp, "Count", 0x01020304);
    reg.setString(Hive::CurrentUser, kApp, "", "default");
    reg.setString(Hive::Users, "S-1-5-21-7\\Software\\Vendor", "User", "u");

    HKEY h = open(HKEY_CURRENT_USER, "SOFTWARE\\vendor\\APP", KEY_READ);
    char buf[32];
    DWORD type = 0, size = sizeof(buf);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "installdir", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(7u, size);
    EXPECT_STREQ("C:\\App", buf);

    DWORD count = 0;
    size = sizeof(count);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "COUNT", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0x01020304u, count);

    for (const char* defaultName : {static_cast<const char*>(nullptr), ""}) {
        size = sizeof(buf);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegQueryValueExA(h, defaultName, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
        EXPECT_STREQ("default", buf);
    }
    RegCloseKey(h);

    h = open(HKEY_USERS, "S-1-5-21-7\\Software\\Vendor", KEY_QUERY_VALUE);
    size = sizeof(buf);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "User", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_STREQ("u", buf);
    RegCloseKey(h);
}

TEST_F(RegistryTest, Win32WritesShowOnTheControlFaceCasePreserved) {
    HKEY h = create(HKEY_CURRENT_USER, kApp, KEY_ALL_ACCESS);
    const char text[] = "Value";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(h, "MixedCase", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)));
    // Writing under another spelling replaces the value and keeps the first spelling.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "MIXEDCASE", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3));
    RegCloseKey(h);
    EXPECT_EQ(std::vector<std::string>{"MixedCase"}, reg.valueNames(Hive::CurrentUser, "software\\vendor\\app"));
    auto v = reg.value(Hive::CurrentUser, kApp, "mixedcase");
    ASSERT_TRUE(v);
    EXPECT_EQ(3u, v->data.size());  // "Val": the byte after it is not a terminator
    EXPECT_EQ(std::vector<std::string>{"App"}, reg.subkeys(Hive::CurrentUser, "Software\\Vendor"));
}

// RegSetValueExA stores cbData bytes, except that Windows counts a terminator the caller
// left out of a string's size when one follows the data.
struct SetCase {
    DWORD type;
    const char* bytes;  // followed by a terminator in memory
    DWORD cb;
    DWORD storedSize;
};
class SetValueSizes : public RegistryTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetValueSizes, StoresWhatWindowsStores) {
    const SetCase c = GetParam();
    HKEY h = create(HKEY_CURRENT_USER, kApp, KEY_SET_VALUE | KEY_QUERY_VALUE);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "v", 0, c.type, reinterpret_cast<const BYTE*>(c.bytes), c.cb));
    DWORD size = 1234;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(c.storedSize, size);
    RegCloseKey(h);
    auto v = reg.value(Hive::CurrentUser, kApp, "v");
    ASSERT_TRUE(v);
    EXPECT_EQ(std::string(c.bytes, c.storedSize), std::string(v->data.begin(), v->data.end()));
}

INSTANTIATE_TEST_SUITE_P(Registry, SetValueSizes,
                         ::testing::Values(SetCase{REG_SZ, "abc", 4, 4}, SetCase{REG_SZ, "abc", 3, 4},
                                           SetCase{REG_EXPAND_SZ, "%TEMP%", 6, 7}, SetCase{REG_SZ, "abc", 0, 0},
                                           SetCase{REG_SZ, "a\0b", 4, 4}, SetCase{REG_BINARY, "abc", 3, 3},
                                           SetCase{REG_SZ, "abc", 2, 2}));

TEST_F(RegistryTest, SetValueRejectsMissingDataWithASize) {
    HKEY h = create(HKEY_CURRENT_USER, kApp, KEY_SET_VALUE);
    EXPECT_EQ(kNoAccess, RegSetValueExA(h, "v", 0, REG_SZ, nullptr, 4));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "v", 0, REG_SZ, nullptr, 0));
    RegCloseKey(h);
}

// RegQueryValueExA on "abc" stored with its terminator (4 bytes).
struct QueryCase {
    bool withBuffer;
    DWORD capacity;
    LONG rc;
    bool written;
};
class QueryBuffer : public RegistryTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryBuffer, ReportsTheSizeAndFillsOnlyWhenItFits) {
    const QueryCase c = GetParam();
    reg.setString(Hive::CurrentUser, kApp, "v", "abc");
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_QUERY_VALUE);
    char buf[16];
    std::memset(buf, 'x', sizeof(buf));
    DWORD type = 0, size = c.capacity;
    EXPECT_EQ(c.rc,
              RegQueryValueExA(h, "v", nullptr, &type, c.withBuffer ? reinterpret_cast<BYTE*>(buf) : nullptr, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(c.written ? std::string("abc\0x", 5) : std::string("xxxxx"), std::string(buf, 5));
    RegCloseKey(h);
}

INSTANTIATE_TEST_SUITE_P(Registry, QueryBuffer,
                         ::testing::Values(QueryCase{false, 0, ERROR_SUCCESS, false},
                                           QueryCase{true, 0, ERROR_MORE_DATA, false},
                                           QueryCase{true, 3, ERROR_MORE_DATA, false},
                                           QueryCase{true, 4, ERROR_SUCCESS, true},
                                           QueryCase{true, 16, ERROR_SUCCESS, true}));

TEST_F(RegistryTest, QueryOfAMissingValue) {
    reg.createKey(Hive::CurrentUser, kApp);
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_QUERY_VALUE | KEY_SET_VALUE);
    DWORD size = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "none", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0u, size);
    BYTE buf[8];
    size = sizeof(buf);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "none", nullptr, nullptr, buf, &size));
    EXPECT_EQ(sizeof(buf), size);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(h, "none", nullptr, nullptr, buf, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(h, "none"));
    RegCloseKey(h);
}

TEST_F(RegistryTest, SubkeysEnumerateInUpperCaseOrderThenEnd) {
    for (const char* name : {"beta", "a_b", "Alpha", "gamma", "AZ"})
        reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\" + name);
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_ENUMERATE_SUB_KEYS);
    std::vector<std::string> names;
    char name[32];
    DWORD cch = sizeof(name);
    FILETIME ft{};
    for (DWORD i = 0; RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, &ft) == ERROR_SUCCESS; ++i) {
        EXPECT_EQ(std::strlen(name), cch);
        EXPECT_NE(0u, ft.dwHighDateTime);
        names.push_back(name);
        cch = sizeof(name);
    }
    // '_' sorts after the letters because Windows compares upper-case forms.
    EXPECT_EQ((std::vector<std::string>{"Alpha", "AZ", "a_b", "beta", "gamma"}), names);
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(h, 5, name, &cch, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(h);
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAcrossRewritesAndDeletes) {
    HKEY h = create(HKEY_CURRENT_USER, kApp, KEY_SET_VALUE | KEY_QUERY_VALUE);
    const DWORD one = 1;
    for (const char* name : {"zeta", "Alpha", "mid", "last"})
        RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegSetValueExA(h, "ZETA", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(h, "mid"));
    std::vector<std::string> names;
    char name[32];
    DWORD cch = sizeof(name);
    for (DWORD i = 0; RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
        cch = sizeof(name);
    }
    EXPECT_EQ((std::vector<std::string>{"zeta", "Alpha", "last"}), names);
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(h, 3, name, &cch, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(h);
}

// Name capacities count the terminator; a name of 5 characters needs 6.
struct NameCase {
    bool values;  // RegEnumValueA, else RegEnumKeyExA
    DWORD capacity;
    LONG rc;
    DWORD countAfter;
};
class EnumNameCapacity : public RegistryTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EnumNameCapacity, TooSmallLeavesNameAndCountAlone) {
    const NameCase c = GetParam();
    reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\Alpha");
    reg.setString(Hive::CurrentUser, kApp, "Alpha", "foobar");
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_READ);
    char name[16];
    std::memset(name, 'x', sizeof(name));
    DWORD cch = c.capacity, type = 0, cb = 99;
    const LONG rc = c.values ? RegEnumValueA(h, 0, name, &cch, nullptr, &type, nullptr, &cb)
                             : RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(c.rc, rc);
    EXPECT_EQ(c.countAfter, cch);
    EXPECT_EQ(c.rc == ERROR_SUCCESS ? std::string("Alpha\0", 6) : std::string("xxxxxx"), std::string(name, 6));
    if (c.values) {
        EXPECT_EQ(7u, cb);  // the data size is reported either way
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    }
    RegCloseKey(h);
}

INSTANTIATE_TEST_SUITE_P(Registry, EnumNameCapacity,
                         ::testing::Values(NameCase{false, 0, ERROR_MORE_DATA, 0},
                                           NameCase{false, 5, ERROR_MORE_DATA, 5}, NameCase{false, 6, ERROR_SUCCESS, 5},
                                           NameCase{true, 0, ERROR_MORE_DATA, 0}, NameCase{true, 5, ERROR_MORE_DATA, 5},
                                           NameCase{true, 6, ERROR_SUCCESS, 5}));

TEST_F(RegistryTest, EnumValueDataTooSmallReportsSizeAndWritesNothing) {
    reg.setString(Hive::CurrentUser, kApp, "Test", "foobar");
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_QUERY_VALUE);
    char name[20] = "xxxxxxxx", data[20] = "xxxxxxxx";
    DWORD cch = sizeof(name), cb = 2, type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(h, 0, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb));
    EXPECT_EQ(sizeof(name), cch);
    EXPECT_EQ(7u, cb);
    EXPECT_STREQ("xxxxxxxx", name);
    EXPECT_STREQ("xxxxxxxx", data);
    cb = sizeof(data);
    EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(h, 0, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(data), &cb));
    EXPECT_STREQ("Test", name);
    EXPECT_STREQ("foobar", data);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumValueA(h, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(h);
}

// Each call needs its own right on the handle it is given.
enum class Op { Query, Set, DeleteValue, EnumKeys, EnumValues };
struct AccessCase {
    REGSAM sam;
    Op op;
    LONG rc;
};
class HandleAccess : public RegistryTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(HandleAccess, CallsNeedTheirRight) {
    const AccessCase c = GetParam();
    reg.setDword(Hive::CurrentUser, kApp, "v", 1);
    reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\Sub");
    HKEY h = open(HKEY_CURRENT_USER, kApp, c.sam);
    char name[16];
    DWORD cch = sizeof(name), value = 2, size = sizeof(value);
    LONG rc = ERROR_INVALID_FUNCTION;
    switch (c.op) {
        case Op::Query: rc = RegQueryValueExA(h, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size); break;
        case Op::Set: rc = RegSetValueExA(h, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4); break;
        case Op::DeleteValue: rc = RegDeleteValueA(h, "v"); break;
        case Op::EnumKeys: rc = RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr); break;
        case Op::EnumValues: rc = RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr); break;
    }
    EXPECT_EQ(c.rc, rc);
    RegCloseKey(h);
}

INSTANTIATE_TEST_SUITE_P(Registry, HandleAccess,
                         ::testing::Values(AccessCase{KEY_READ, Op::Query, ERROR_SUCCESS},
                                           AccessCase{KEY_READ, Op::Set, ERROR_ACCESS_DENIED},
                                           AccessCase{KEY_READ, Op::DeleteValue, ERROR_ACCESS_DENIED},
                                           AccessCase{KEY_READ, Op::EnumKeys, ERROR_SUCCESS},
                                           AccessCase{KEY_READ, Op::EnumValues, ERROR_SUCCESS},
                                           AccessCase{KEY_WRITE, Op::Query, ERROR_ACCESS_DENIED},
                                           AccessCase{KEY_WRITE, Op::Set, ERROR_SUCCESS},
                                           AccessCase{KEY_WRITE, Op::DeleteValue, ERROR_SUCCESS},
                                           AccessCase{KEY_WRITE, Op::EnumValues, ERROR_ACCESS_DENIED},
                                           AccessCase{KEY_QUERY_VALUE, Op::EnumKeys, ERROR_ACCESS_DENIED},
                                           AccessCase{KEY_ENUMERATE_SUB_KEYS, Op::EnumValues, ERROR_ACCESS_DENIED},
                                           AccessCase{0x80000000 /* GENERIC_READ */, Op::Query, ERROR_SUCCESS},
                                           AccessCase{0x80000000 /* GENERIC_READ */, Op::Set, ERROR_ACCESS_DENIED}));

TEST_F(RegistryTest, CreateIgnoresTheParentHandlesAccessAsWindowsDoes) {
    reg.createKey(Hive::CurrentUser, kApp);
    HKEY parent = open(HKEY_CURRENT_USER, kApp, KEY_READ);
    DWORD disposition = 0;
    HKEY child = create(parent, "New\\Deeper", KEY_SET_VALUE, &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(reg.keyExists(Hive::CurrentUser, std::string(kApp) + "\\New\\Deeper"));
    HKEY again = create(HKEY_CURRENT_USER, "SOFTWARE\\VENDOR\\APP\\NEW", KEY_READ, &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(std::vector<std::string>{"New"}, reg.subkeys(Hive::CurrentUser, kApp));
    RegCloseKey(again);
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(RegistryTest, OpenArgumentsAsWindowsTreatsThem) {
    reg.createKey(Hive::CurrentUser, kApp);
    HKEY h = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vendor\\None", 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, "Software\\Vendor\\None"));
    EXPECT_EQ(kBadPathname, RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software\\Vendor\\App", 0, KEY_READ, &h));
    EXPECT_EQ(kBadPathname,
              RegCreateKeyExA(HKEY_CURRENT_USER, "\\Software\\X", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_CURRENT_USER, kApp, 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExA(HKEY_CURRENT_USER, kApp, 0, KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &h));
    HKEY kept = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "", 0, KEY_READ, &kept));
    EXPECT_EQ(reinterpret_cast<HKEY>(0x1234), kept);

    HKEY a = open(HKEY_CURRENT_USER, "Software\\Vendor\\App\\\\", KEY_READ);  // trailing backslashes are fine
    HKEY b = open(a, nullptr, KEY_READ);
    HKEY c = open(a, "", KEY_READ);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_EQ(HKEY_CURRENT_USER, open(HKEY_CURRENT_USER, "", KEY_READ));  // a predefined key comes back as itself
    EXPECT_EQ(3u, reg.openHandleCount());
    for (HKEY k : {a, b, c}) EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
}

TEST_F(RegistryTest, CloseRefusesStaleAndNullHandles) {
    reg.createKey(Hive::CurrentUser, kApp);
    HKEY h = open(HKEY_CURRENT_USER, kApp, KEY_READ);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(h));
    DWORD size = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
}

TEST_F(RegistryTest, DeleteKeyRulesAndHandlesToDeletedKeys) {
    reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\Child");
    reg.setDword(Hive::CurrentUser, kApp, "v", 1);
    HKEY vendor = open(HKEY_CURRENT_USER, "Software\\Vendor", KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(vendor, "App"));  // it has a subkey
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(vendor, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(vendor, "None"));

    HKEY app = open(vendor, "App", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(app, "child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(app, ""));  // the key itself
    EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, kApp));
    reg.createKey(Hive::CurrentUser, kApp);  // a new key of the same name does not revive the handle

    DWORD value = 1, size = 4, cch = 8;
    char name[8];
    HKEY sub = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(app, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(app, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(app, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(app, "", 0, KEY_READ, &sub));
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(app, "x", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(app));
    RegCloseKey(vendor);
}

// Faults address physical keys; failOpen hits only that key, denyWrite only write access.
TEST_F(RegistryTest, FailOpenHitsExactlyThatKeyUntilCleared) {
    reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\Child");
    reg.failOpen(Hive::CurrentUser, "software\\vendor\\app", ERROR_CANTOPEN);
    HKEY h = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(ERROR_CANTOPEN, RegOpenKeyExA(HKEY_CURRENT_USER, kApp, 0, KEY_READ, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(ERROR_CANTOPEN, RegCreateKeyExA(HKEY_CURRENT_USER, kApp, 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr));
    RegCloseKey(open(HKEY_CURRENT_USER, "Software\\Vendor\\App\\Child", KEY_READ));
    RegCloseKey(open(HKEY_CURRENT_USER, "Software\\Vendor", KEY_READ));
    reg.clearFaults();
    RegCloseKey(open(HKEY_CURRENT_USER, kApp, KEY_READ));
}

struct DenyCase {
    REGSAM sam;
    LONG rc;
};
class DenyWrite : public RegistryTest, public ::testing::WithParamInterface<DenyCase> {};

TEST_P(DenyWrite, OpensAskingForWriteAccessAreRefused) {
    const DenyCase c = GetParam();
    reg.createKey(Hive::CurrentUser, kApp);
    reg.denyWrite(Hive::CurrentUser, kApp);
    for (bool viaCreate : {false, true}) {
        HKEY h = nullptr;
        const LONG rc = viaCreate ? RegCreateKeyExA(HKEY_CURRENT_USER, kApp, 0, nullptr, 0, c.sam, nullptr, &h, nullptr)
                                  : RegOpenKeyExA(HKEY_CURRENT_USER, kApp, 0, c.sam, &h);
        EXPECT_EQ(c.rc, rc) << (viaCreate ? "create" : "open");
        EXPECT_EQ(c.rc == ERROR_SUCCESS, h != nullptr);
        if (h) RegCloseKey(h);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, DenyWrite,
    ::testing::Values(DenyCase{KEY_READ, ERROR_SUCCESS}, DenyCase{KEY_QUERY_VALUE, ERROR_SUCCESS},
                      DenyCase{KEY_SET_VALUE, ERROR_ACCESS_DENIED}, DenyCase{KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED},
                      DenyCase{KEY_WRITE, ERROR_ACCESS_DENIED}, DenyCase{KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
                      DenyCase{DELETE, ERROR_ACCESS_DENIED}, DenyCase{WRITE_DAC, ERROR_ACCESS_DENIED},
                      DenyCase{KEY_READ | KEY_WOW64_64KEY, ERROR_SUCCESS}));

TEST_F(RegistryTest, DenyWriteAlsoStopsNewSubkeysAndDeletion) {
    reg.createKey(Hive::CurrentUser, std::string(kApp) + "\\Leaf");
    reg.denyWrite(Hive::CurrentUser, kApp);
    reg.denyWrite(Hive::CurrentUser, std::string(kApp) + "\\Leaf");
    HKEY h = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vendor\\App\\New", 0, nullptr, 0,
                                                   KEY_READ, nullptr, &h, nullptr));
    EXPECT_FALSE(reg.keyExists(Hive::CurrentUser, "Software\\Vendor\\App\\New"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vendor\\App\\Leaf"));
    EXPECT_TRUE(reg.keyExists(Hive::CurrentUser, "Software\\Vendor\\App\\Leaf"));
}

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

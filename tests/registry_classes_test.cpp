// The registry key classes and the installation-name resolution of key paths.
#include "fixture.h"
#include "registry/fa9i_registry.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kWowProduct = "SOFTWARE\\WOW6432Node\\ZNK\\FA9";

struct ResolveCase {
    const char* label;
    std::string text;
    const char* name;
    std::string expected;  // empty: refused
};
void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.label; }

class Resolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, PutsTheNameIntoThePath) {
    const ResolveCase& c = GetParam();
    const char* shared = resolveInstallationName(c.text.c_str(), c.name, 0, nullptr);
    char own[1100];
    const char* inOwn = resolveInstallationName(c.text.c_str(), c.name, sizeof own, own);
    if (c.expected.empty()) {
        EXPECT_TRUE(!shared && !inOwn);
        return;
    }
    ASSERT_TRUE(shared && inOwn);
    EXPECT_EQ(std::string(shared), c.expected);
    EXPECT_EQ(std::string(own), c.expected);
    EXPECT_EQ(inOwn == c.text.c_str(), c.text == c.expected) << "unchanged text comes back as the caller's pointer";
}

const char* const kCur = "$CurrentInstallationName$";
INSTANTIATE_TEST_SUITE_P(
    Registry, Resolve,
    ::testing::Values(
        ResolveCase{"current_twice", std::string("A\\") + kCur + "\\B\\" + kCur, "COPY2", "A\\COPY2\\B\\COPY2"},
        ResolveCase{"case_sensitive", "X\\$currentInstallationName$", "C", "X\\$currentInstallationName$"},
        ResolveCase{"no_name", std::string("X\\") + kCur, nullptr, "X\\$CurrentInstallationName$"},
        ResolveCase{"name_with_placeholder", std::string(kCur) + kCur, kCur,
                    "$CurrentInstallationName$$CurrentInstallationName$"},
        ResolveCase{"longest_text", std::string(1023, 'k'), "C", std::string(1023, 'k')},
        ResolveCase{"text_too_long", std::string(1024, 'k'), "C", ""},
        ResolveCase{"result_too_long", std::string(990, 'k') + kCur, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", ""}));

class KeyClasses : public SessionTest {
protected:
    ~KeyClasses() override { EXPECT_EQ(machine.registry().openHandleCount(), 0u); }
};

struct ReadCase {
    const char* label;
    std::vector<BYTE> data;
    DWORD capacity;
    UINT rc;
    const char* text;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.label; }

class ValueRead : public KeyClasses, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ValueRead, TerminatesWithinTheCapacity) {
    const ReadCase& c = GetParam();
    machine.registry().setValue(Hive::LocalMachine, kWowProduct, "V", REG_BINARY, c.data);
    FA9iRegistry key;
    ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZNK\\FA9", KEY_QUERY_VALUE), ERROR_SUCCESS);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(key.queryValue("V", buffer, c.capacity), c.rc);
    EXPECT_STREQ(buffer, c.text);
    for (size_t i = c.capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Registry, ValueRead,
                         ::testing::Values(ReadCase{"unterminated", {'a', 'b', 'c'}, 8, 0u, "abc"},
                                           ReadCase{"fills_buffer_unterminated", {'a', 'b', 'c', 'd'}, 4,
                                                    kRegistryFailed, ""},
                                           ReadCase{"fills_buffer_terminated", {'a', 'b', 'c', 0}, 4, 0u, "abc"},
                                           ReadCase{"too_long", {'a', 'b', 'c', 'd', 'e', 0}, 4, kRegistryFailed,
                                                    ""}));

TEST_F(KeyClasses, CopyNameKeysHonourTheViewBits) {
    machine.registry().setString(Hive::LocalMachine, "SOFTWARE\\ZNK\\FA9\\InstalledCopies\\C1", "Where", "64");
    machine.registry().setString(Hive::LocalMachine, kWowProduct + "\\InstalledCopies\\C1", "Where", "32");
    const char* path = "SOFTWARE\\ZNK\\FA9\\InstalledCopies\\$CurrentInstallationName$";
    char where[8];
    for (auto [access, expected] : {std::pair<REGSAM, const char*>{KEY_READ, "32"},
                                    {KEY_READ | KEY_WOW64_32KEY, "32"}, {KEY_READ | KEY_WOW64_64KEY, "64"}}) {
        FA9iCopyNameRegistry key(HKEY_LOCAL_MACHINE, path, false, "c1", access);
        ASSERT_EQ(key.status(), ERROR_SUCCESS);
        EXPECT_EQ(key.queryValue("Where", where, sizeof where), 0u);
        EXPECT_STREQ(where, expected) << "access 0x" << std::hex << access;
    }
    FA9iCopyNameRegistry created(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZNK\\$CurrentInstallationName$\\New", true, "C2",
                                 KEY_WOW64_64KEY);
    ASSERT_EQ(created.status(), ERROR_SUCCESS);
    const BYTE data[] = "v";
    EXPECT_EQ(created.setValue("N", data, sizeof data, REG_SZ), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::LocalMachine, "SOFTWARE\\ZNK\\C2\\New", "N"), "v");

    FA9iRegistry readOnly;
    ASSERT_EQ(readOnly.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZNK\\FA9", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(readOnly.setValue("N", data, sizeof data, REG_SZ), static_cast<UINT>(ERROR_ACCESS_DENIED));
}

}  // namespace

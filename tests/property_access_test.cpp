// Property access in immediate, deferred, rollback and commit mode, and the helpers
// built on it.
#include "fixture.h"
#include "session/action_data.h"
#include "session/property_access.h"

#include <cstring>

using namespace fa9test;
using winsim::Hive;
using winsim::RunMode;

namespace {

const char* kSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
const std::string kUserStore = std::string(kSid) + "\\" + kStoreKey;

class PropertyTest : public SessionTest {
protected:
    PropertyTest() { machine.registry().createKey(Hive::Users, kSid); }
    void deferred(RunMode mode = RunMode::Scheduled) {
        session.setProperty("UserSID", kSid);
        session.setRunMode(mode);
    }
    void store(const char* name, const std::string& value) {
        machine.registry().setString(Hive::Users, kUserStore, name, value);
    }
    // Nothing may be written past the capacity the caller gave.
    std::string get(const char* name, UINT* rc = nullptr, DWORD capacity = 64, DWORD* size = nullptr) {
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        DWORD cap = capacity;
        UINT r = iMsiGetProperty(session.handle(), name, buffer, &cap);
        if (rc) *rc = r;
        if (size) *size = cap;
        for (size_t i = capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
        return std::string(buffer, strnlen(buffer, capacity));
    }
};

// The script's reads take the action data, then the user's store, then the installer (for
// what the store lacks or holds too large for the buffer); sizes as the store gives them,
// in bytes with the terminator. Immediate and commit actions ask the installer alone.
TEST_F(PropertyTest, ReadsTakeTheDataThenTheStoreThenTheInstaller) {
    const std::string code = "{11111111-2222-3333-4444-555555555555}";
    session.setProperty("ProductCode", code);
    session.setProperty("INSTALLDIR", "C:\\Session\\");
    std::string data;
    iAppendActionEntry(data, "INSTALLDIR", "C:\\Genuine;Tools\\");
    const UINT more = ERROR_MORE_DATA;
    // `data`: CustomActionData; `stored`: the name's value in the store (null: none); `size`: 0 not checked.
    const struct { const char* label; RunMode mode; std::string data; const char* stored; const char* name;
                   DWORD capacity; std::string text; UINT rc; DWORD size; } cases[] = {
        {"no store", RunMode::Scheduled, "", nullptr, "ProductCode", 64, code, 0, 0},
        {"the store", RunMode::Scheduled, "", "{Stored}", "ProductCode", 64, "{Stored}", 0, 9},
        {"too large in the store", RunMode::Scheduled, "", "a value longer than 15", "ProductCode", 16,
         code.substr(0, 15), more, 0},
        {"the data", RunMode::Scheduled, data, "C:\\Decoy\\", "INSTALLDIR", 64, "C:\\Genuine;Tools\\", 0, 18},
        {"rollback", RunMode::Rollback, data, "C:\\Decoy\\", "INSTALLDIR", 64, "C:\\Genuine;Tools\\", 0, 18},
        {"a name the data lacks", RunMode::Scheduled, data, "In the store", "ProductName", 64, "In the store", 0, 0},
        {"the data cut", RunMode::Scheduled, data, nullptr, "INSTALLDIR", 8, "C:\\Genu", more, 18},
        {"the data's size", RunMode::Scheduled, data, nullptr, "INSTALLDIR", 0, "", more, 18},
        {"unreadable data counts as none", RunMode::Scheduled, "INSTALLDIR=%%", "C:\\Decoy\\", "INSTALLDIR", 64,
         "C:\\Decoy\\", 0, 0},
        {"immediate", RunMode::Immediate, data, "C:\\Decoy\\", "INSTALLDIR", 64, "C:\\Session\\", 0, 0},
        // The installer offers commit actions nothing but their data, which is not read.
        {"commit", RunMode::Commit, data, "C:\\Decoy\\", "INSTALLDIR", 64, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        deferred(c.mode);
        session.setProperty("CustomActionData", c.data);
        machine.registry().deleteKey(Hive::Users, kUserStore);
        if (c.stored) store(c.name, c.stored);
        UINT rc;
        DWORD size;
        EXPECT_EQ(get(c.name, &rc, c.capacity, &size), c.text);
        EXPECT_EQ(rc, c.rc);
        if (c.size) { EXPECT_EQ(size, c.size); }
    }
    session.setProperty("CustomActionData", "");
    DWORD cap = 4;
    EXPECT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", nullptr, &cap), 5021u);
    // The script's reads refuse a missing name or buffer, even for a name the data holds.
    deferred();
    session.setProperty("CustomActionData", "INSTALLDIR=x");
    char buffer[4];
    EXPECT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", nullptr, &cap), UINT(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(iMsiGetActionProperty(session.handle(), nullptr, buffer, &cap), UINT(ERROR_INVALID_PARAMETER));
    session.setProperty("CustomActionData", "");
    // A stored value without its terminator gets one within the capacity.
    deferred();
    machine.registry().setValue(Hive::Users, kUserStore, "RAW", REG_SZ, {'a', 'b', 'c', 'd'});
    EXPECT_EQ(get("RAW", nullptr, 8), "abcd");
    EXPECT_EQ(get("RAW", nullptr, 4), "abc");
    // The current user's store answers when the user's key will not open.
    machine.registry().setString(Hive::CurrentUser, kStoreKey, "INSTALLDIR", "C:\\FromHKCU\\");
    store("INSTALLDIR", "C:\\FromHKU\\");
    EXPECT_EQ(get("INSTALLDIR"), "C:\\FromHKU\\");
    machine.registry().denyWrite(Hive::Users, kSid);  // full access is what the store asks for
    EXPECT_EQ(get("INSTALLDIR"), "C:\\FromHKCU\\");
}

// Written terminated, in the store of the user the store itself names when it does (the user's
// root is the one reads take); a store that refuses maps its failure.
TEST_F(PropertyTest, DeferredWritesGoToTheStore) {
    deferred();
    EXPECT_EQ(iMsiSetProperty(session.handle(), "DIR", "C:\\Temp"), 0u);
    auto raw = machine.registry().value(Hive::Users, kUserStore, "DIR");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(raw->data.begin(), raw->data.end()), std::string("C:\\Temp", 8));
    machine.registry().denyWrite(Hive::Users, kUserStore);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "A", "1"), 5u);
    machine.registry().clearFaults();
    machine.registry().failOpen(Hive::Users, kUserStore, ERROR_CANTWRITE);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "A", "1"), 0x90000002u);
    machine.registry().clearFaults();
    const char* other = "S-1-5-21-9-9-9-500";
    machine.registry().createKey(Hive::Users, other);
    store("UserSID", other);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "B", "2"), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::Users, std::string(other) + "\\" + kStoreKey, "B"), "2");
    EXPECT_EQ(machine.registry().getString(Hive::Users, kUserStore, "B"), std::nullopt);
}

// The copy name: the property unless it is not set, then the product's persistent
// properties on the machine, then the user's.
TEST_F(PropertyTest, CopyNameIsThePropertyThenTheMachineThenTheUser) {
    const std::string product =
        "SOFTWARE\\ZNK\\FA9\\ProductData\\{22222222-0000-0000-0000-000000000001}\\PersistentProperties";
    const std::string onMachine = "SOFTWARE\\WOW6432Node\\" + product.substr(9);
    session.setProperty("ProductCode", "{22222222-0000-0000-0000-000000000001}");
    // FA9_COPY_NAME (null: not set at all), the machine's persistent properties' value ("": the
    // key alone) and the user's, and what they give.
    const struct { const char* property; const char* machine; const char* user; UINT rc; const char* name; }
        cases[] = {
        {"FA9COPY2", "FROMREGISTRY", nullptr, 0u, "FA9COPY2"},
        {"___NotSet___", "FROMREGISTRY", nullptr, 0u, "FROMREGISTRY"},
        {nullptr, nullptr, "USERCOPY", 0u, "USERCOPY"}, {nullptr, nullptr, nullptr, static_cast<UINT>(-1), ""},
        {nullptr, "", nullptr, 6112u, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.property << ", " << c.machine << ", " << c.user);
        session.removeProperty("FA9_COPY_NAME");
        machine.registry().deleteKey(Hive::LocalMachine, onMachine);
        machine.registry().deleteKey(Hive::CurrentUser, product);
        if (c.property) session.setProperty("FA9_COPY_NAME", c.property);
        if (c.machine) machine.registry().createKey(Hive::LocalMachine, onMachine);
        if (c.machine && *c.machine)
            machine.registry().setString(Hive::LocalMachine, onMachine, "FA9_COPY_NAME", c.machine);
        if (c.user) machine.registry().setString(Hive::CurrentUser, product, "FA9_COPY_NAME", c.user);
        char buffer[1024] = "";
        EXPECT_EQ(iGetCopyName(session.handle(), buffer), c.rc);
        EXPECT_STREQ(buffer, c.name);
    }
    session.failGetProperty("ProductCode", ERROR_INVALID_HANDLE);  // an unreadable ProductCode gives none
    char buffer[1024] = "";
    EXPECT_EQ(iGetCopyName(session.handle(), buffer), 6112u);
}

// Only the word MIGRATE, in any case; a read that fails is no migration.
TEST_F(PropertyTest, MigrateModeIsTheWordMigrateInAnyCase) {
    for (const auto& [value, migrate] : {std::pair<const char*, bool>{"migrate", true}, {"MIGRATED", false}}) {
        session.setProperty("INSTALL_MODE", value);
        EXPECT_EQ(iIsMigrateMode(session.handle()), migrate) << value;
    }
    session.failGetProperty("INSTALL_MODE", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(iIsMigrateMode(session.handle()));
    store("INSTALL_MODE", "Migrate");
    deferred();
    EXPECT_TRUE(iIsMigrateMode(session.handle())) << "deferred, the store answers";
}

}  // namespace

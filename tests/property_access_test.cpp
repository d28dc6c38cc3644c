// Property access in immediate, deferred, rollback and commit mode, and the helpers
// built on it.
#include "fixture.h"
#include "session/action_data.h"
#include "session/property_access.h"

#include <gmock/gmock.h>

#include <cstring>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
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

    std::string get(const char* name, UINT* rc = nullptr, DWORD capacity = 64, DWORD* size = nullptr) {
        char buffer[256];
        std::memset(buffer, '#', sizeof buffer);
        DWORD cap = capacity;
        UINT r = iMsiGetProperty(session.handle(), name, buffer, &cap);
        if (rc) *rc = r;
        if (size) *size = cap;
        // Nothing may be written past the capacity the caller gave.
        for (size_t i = capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
        return std::string(buffer, strnlen(buffer, capacity));
    }
};

// What the store lacks, or holds too large for the caller's buffer, the installer answers.
TEST_F(PropertyTest, DeferredReadsTakeTheStoreElseAskTheInstaller) {
    const std::string code = "{11111111-2222-3333-4444-555555555555}";
    session.setProperty("ProductCode", code);
    deferred();
    UINT rc;
    EXPECT_EQ(get("ProductCode", &rc), code) << "no store at all";
    EXPECT_EQ(rc, 0u);
    machine.registry().setString(Hive::Users, kUserStore, "ProductCode", "{Stored}");
    DWORD size;
    EXPECT_EQ(get("ProductCode", &rc, 64, &size), "{Stored}");
    EXPECT_EQ(size, 9u) << "the stored size in bytes, terminator included";
    machine.registry().setString(Hive::Users, kUserStore, "ProductCode", std::string(100, 'x'));
    EXPECT_EQ(get("ProductCode", &rc, 16), code.substr(0, 15)) << "with the caller's capacity";
    EXPECT_EQ(rc, static_cast<UINT>(ERROR_MORE_DATA));
    // A stored value without its terminator gets one within the capacity.
    machine.registry().setValue(Hive::Users, kUserStore, "RAW", REG_SZ, {'a', 'b', 'c', 'd'});
    EXPECT_EQ(get("RAW", nullptr, 8), "abcd");
    EXPECT_EQ(get("RAW", nullptr, 4), "abc");
    // The current user's store answers when the user's key will not open, or without a user.
    machine.registry().setString(Hive::CurrentUser, kStoreKey, "INSTALLDIR", "C:\\FromHKCU\\");
    machine.registry().setString(Hive::Users, kUserStore, "INSTALLDIR", "C:\\FromHKU\\");
    EXPECT_EQ(get("INSTALLDIR"), "C:\\FromHKU\\");
    machine.registry().denyWrite(Hive::Users, kSid);  // full access is what the store asks for
    EXPECT_EQ(get("INSTALLDIR"), "C:\\FromHKCU\\");
    machine.registry().clearFaults();
    session.setProperty("UserSID", "");
    session.setRunMode(RunMode::Rollback);
    EXPECT_EQ(get("INSTALLDIR"), "C:\\FromHKCU\\");
}

// Written terminated, in the store of the user the store itself names when it does;
// HKCU's when the user's key will not open; a store that refuses maps its failure.
TEST_F(PropertyTest, DeferredWritesGoToTheStore) {
    deferred();
    EXPECT_EQ(iMsiSetProperty(session.handle(), "DIR", "C:\\Temp"), 0u);
    auto raw = machine.registry().value(Hive::Users, kUserStore, "DIR");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(raw->data.begin(), raw->data.end()), std::string("C:\\Temp", 8)) << "terminated";

    machine.registry().denyWrite(Hive::Users, kUserStore);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "A", "1"), 5u);
    machine.registry().clearFaults();
    machine.registry().failOpen(Hive::Users, kUserStore, ERROR_CANTWRITE);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "A", "1"), 0x90000002u);
    machine.registry().clearFaults();

    machine.registry().failOpen(Hive::Users, kSid, ERROR_ACCESS_DENIED);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "A", "1"), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::CurrentUser, kStoreKey, "A"), std::optional<std::string>("1"));
    machine.registry().clearFaults();

    const char* other = "S-1-5-21-9-9-9-500";
    machine.registry().createKey(Hive::Users, other);
    machine.registry().setString(Hive::Users, kUserStore, "UserSID", other);
    EXPECT_EQ(iMsiSetProperty(session.handle(), "B", "2"), 0u);
    EXPECT_EQ(machine.registry().getString(Hive::Users, std::string(other) + "\\" + kStoreKey, "B"),
              std::optional<std::string>("2"));
    EXPECT_FALSE(machine.registry().getString(Hive::Users, kUserStore, "B").has_value());
}

TEST_F(PropertyTest, ScriptReadsTakeTheActionDataBeforeTheStoreOutsideCommitMode) {
    machine.registry().setString(Hive::Users, kUserStore, "INSTALLDIR", "C:\\Decoy\\");
    machine.registry().setString(Hive::Users, kUserStore, "ProductName", "From the store");
    std::string data;
    iAppendActionEntry(data, "INSTALLDIR", "C:\\Genuine;Tools\\");
    iAppendActionEntry(data, "EMPTY", "");
    session.setProperty("CustomActionData", data);
    for (RunMode mode : {RunMode::Scheduled, RunMode::Rollback}) {
        deferred(mode);
        char buffer[64];
        DWORD cap = sizeof buffer;
        EXPECT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", buffer, &cap), 0u);
        EXPECT_STREQ(buffer, "C:\\Genuine;Tools\\");
        EXPECT_EQ(cap, 18u) << "the size in bytes with the terminator, as from the store";
        UINT rc;
        EXPECT_EQ(get("EMPTY", &rc), "") << "an empty value in the data is still the data's";
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(get("ProductName"), "From the store") << "a name the data lacks";
        // Too small: cut, and the size it needs.
        EXPECT_EQ(get("INSTALLDIR", &rc, 8), "C:\\Genu");
        EXPECT_EQ(rc, static_cast<UINT>(ERROR_MORE_DATA));
        cap = 0;
        EXPECT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", buffer, &cap), static_cast<UINT>(ERROR_MORE_DATA));
        EXPECT_EQ(cap, 18u);
    }
    // Data that cannot be read counts as none: the store answers.
    session.setProperty("CustomActionData", "INSTALLDIR=%%");
    EXPECT_EQ(get("INSTALLDIR"), "C:\\Decoy\\");
    // Immediate custom actions are never handed data, and get what the installer gives.
    session.setRunMode(RunMode::Immediate);
    session.setProperty("CustomActionData", data);
    session.setProperty("INSTALLDIR", "C:\\Session\\");
    UINT rc;
    EXPECT_EQ(get("INSTALLDIR"), "C:\\Session\\");
    EXPECT_EQ(get("INSTALLDIR", &rc, 8), "C:\\Sess") << "no retry on a short buffer";
    EXPECT_EQ(rc, static_cast<UINT>(ERROR_MORE_DATA));
    // Commit mode behaves as immediate: neither the data nor the store is consulted, and
    // the installer offers nothing else there.
    session.setRunMode(RunMode::Commit);
    EXPECT_EQ(get("INSTALLDIR"), "");
    DWORD cap = 4;
    EXPECT_EQ(iMsiGetProperty(session.handle(), "INSTALLDIR", nullptr, &cap), 5021u);
}

// ---------------------------------------------------------------- copy name

const std::string kPersistent =
    "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\ProductData\\{22222222-0000-0000-0000-000000000001}\\PersistentProperties";

const std::string kUserPersistent =
    "SOFTWARE\\ZNK\\FA9\\ProductData\\{22222222-0000-0000-0000-000000000001}\\PersistentProperties";

// Where the copy name comes from: the property unless it is not set, then the product's
// persistent properties on the machine, then the user's.
TEST_F(PropertyTest, CopyNameIsThePropertyThenTheMachineThenTheUser) {
    session.setProperty("ProductCode", "{22222222-0000-0000-0000-000000000001}");
    const struct {
        const char* property;      // FA9_COPY_NAME; null: not set at all
        const char* machineValue;  // in the machine's persistent properties; "": key only
        const char* userValue;     // in the user's
        UINT rc;
        const char* copyName;
    } cases[] = {{"FA9COPY2", "FROMREGISTRY", nullptr, 0u, "FA9COPY2"},
                 {"___NotSet___", "FROMREGISTRY", nullptr, 0u, "FROMREGISTRY"},
                 {nullptr, nullptr, "USERCOPY", 0u, "USERCOPY"},
                 {nullptr, nullptr, nullptr, static_cast<UINT>(-1), ""},
                 {nullptr, "", nullptr, 6112u, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.property ? c.property : "-") << ", "
                                          << (c.machineValue ? c.machineValue : "-") << ", "
                                          << (c.userValue ? c.userValue : "-"));
        session.removeProperty("FA9_COPY_NAME");
        machine.registry().deleteKey(Hive::LocalMachine, kPersistent);
        machine.registry().deleteKey(Hive::CurrentUser, kUserPersistent);
        if (c.property) session.setProperty("FA9_COPY_NAME", c.property);
        if (c.machineValue && *c.machineValue)
            machine.registry().setString(Hive::LocalMachine, kPersistent, "FA9_COPY_NAME", c.machineValue);
        else if (c.machineValue)
            machine.registry().createKey(Hive::LocalMachine, kPersistent);
        if (c.userValue)
            machine.registry().setString(Hive::CurrentUser, kUserPersistent, "FA9_COPY_NAME", c.userValue);
        char buffer[1024] = "";
        EXPECT_EQ(iGetCopyName(session.handle(), buffer), c.rc);
        EXPECT_STREQ(buffer, c.copyName);
    }
    // An unreadable ProductCode gives none, and says why.
    session.clearLog();
    session.failGetProperty("ProductCode", ERROR_INVALID_HANDLE);
    char buffer[1024] = "";
    EXPECT_EQ(iGetCopyName(session.handle(), buffer), 6112u);
    EXPECT_THAT(log(), ElementsAre(logged("iMsiGetProperty failed with return code '6'.")));
}

// ---------------------------------------------------------------- migration

// Only the word MIGRATE, in any case; a read that fails is no migration.
TEST_F(PropertyTest, MigrateModeIsTheWordMigrateInAnyCase) {
    const std::pair<const char*, bool> cases[] = {{"MIGRATE", true}, {"migrate", true}, {"MIGRATED", false}, {"", false}};
    for (const auto& [value, migrate] : cases) {
        SCOPED_TRACE(value);
        session.setProperty("INSTALL_MODE", value);
        EXPECT_EQ(iIsMigrateMode(session.handle()), migrate);
    }
    session.failGetProperty("INSTALL_MODE", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(iIsMigrateMode(session.handle()));
    machine.registry().setString(Hive::Users, kUserStore, "INSTALL_MODE", "Migrate");
    deferred();
    EXPECT_TRUE(iIsMigrateMode(session.handle())) << "deferred, the store answers";
}

}  // namespace

// The registry key classes, the installation-name resolution of key paths, and the
// installed copies of the product read through them: one copy, the list, its finders, and
// the installation path of the copy an installation works on.
#include "fixture.h"
#include "registry/fa9i_registry.h"
#include "registry/install_copy.h"

#include <cstring>
#include <string>
#include <vector>

using namespace fa9test;
using winsim::Hive;

namespace {

// A 32-bit process on 64-bit Windows: the product's HKLM keys live under WOW6432Node.
const std::string kProduct = "SOFTWARE\\WOW6432Node\\ZNK\\FA9";
const std::string kCopies = kProduct + "\\InstalledCopies";

// The name goes into the key path, in a buffer of the caller's or the shared one; text and
// result are bounded (1023 characters), the placeholder is matched case by case, and a
// name that carries the placeholder is put in as it is.
TEST(Resolve, PutsTheNameIntoThePath) {
    const std::string cur = "$CurrentInstallationName$";
    const struct {
        std::string text;
        const char* name;
        std::string expected;  // empty: refused
    } cases[] = {
        {"A\\" + cur + "\\B\\" + cur, "COPY2", "A\\COPY2\\B\\COPY2"},
        {"X\\$currentInstallationName$", "C", "X\\$currentInstallationName$"},
        {"X\\" + cur, nullptr, "X\\" + cur},
        {cur + cur, cur.c_str(), cur + cur},
        {std::string(1023, 'k'), "C", std::string(1023, 'k')},
        {std::string(1024, 'k'), "C", ""},
        {std::string(990, 'k') + cur, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const char* shared = resolveInstallationName(c.text.c_str(), c.name, 0, nullptr);
        char own[1100];
        const char* inOwn = resolveInstallationName(c.text.c_str(), c.name, sizeof own, own);
        if (c.expected.empty()) {
            EXPECT_TRUE(!shared && !inOwn);
            continue;
        }
        ASSERT_TRUE(shared && inOwn);
        EXPECT_EQ(std::string(shared), c.expected);
        EXPECT_EQ(std::string(own), c.expected);
        EXPECT_EQ(inOwn == c.text.c_str(), c.text == c.expected) << "unchanged text comes back as the caller's pointer";
    }
}

class KeyClasses : public SessionTest {
protected:
    ~KeyClasses() override { EXPECT_EQ(machine.registry().openHandleCount(), 0u); }
};

// A read terminates the value within the caller's capacity, or refuses it, and never
// writes past that capacity.
TEST_F(KeyClasses, AValueReadTerminatesWithinTheCapacity) {
    const struct {
        const char* label;
        std::vector<BYTE> data;
        DWORD capacity;
        UINT rc;
        const char* text;
    } cases[] = {{"unterminated", {'a', 'b', 'c'}, 8, 0u, "abc"},
                 {"fills_buffer_unterminated", {'a', 'b', 'c', 'd'}, 4, kRegistryFailed, ""},
                 {"fills_buffer_terminated", {'a', 'b', 'c', 0}, 4, 0u, "abc"},
                 {"too_long", {'a', 'b', 'c', 'd', 'e', 0}, 4, kRegistryFailed, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.registry().setValue(Hive::LocalMachine, kProduct, "V", REG_BINARY, c.data);
        FA9iRegistry key;
        ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZNK\\FA9", KEY_QUERY_VALUE), ERROR_SUCCESS);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(key.queryValue("V", buffer, c.capacity), c.rc);
        EXPECT_STREQ(buffer, c.text);
        for (size_t i = c.capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << "byte " << i;
    }
}

// ---------------------------------------------------------------- installed copies

class Copies : public KeyClasses {
protected:
    void set(const std::string& key, const std::string& name, const std::string& value,
             Hive hive = Hive::LocalMachine) {
        machine.registry().setString(hive, key, name, value);
    }
    void copy(const std::string& name, const std::string& path) { set(kCopies + "\\" + name, "FA9 Path Name", path); }
    static std::vector<std::string> names(InstallCopyList& list) {
        std::vector<std::string> out;
        list.resetCursor();
        while (InstallCopy* c = list.next()) out.push_back(c->name());
        return out;
    }
};

// A CurrentVersion whose leading number is 8 lists the old copy first, at its own path.
TEST_F(Copies, LeadingNumberEightListsTheOldCopyFirst) {
    set(kProduct, "FA9 Path Name", "C:\\SQLLIB\\");
    copy("COPY1", "C:\\One");
    using Names = std::vector<std::string>;
    for (const auto& [version, v8] : {std::pair<const char*, bool>{"8", true}, {"8.2", true}, {"08", true},
                                      {"9", false}, {"80", false}, {"v8", false}}) {
        SCOPED_TRACE(version);
        set(kProduct + "\\CurrentVersion", "Version", version);
        InstallCopyList list(false, false);
        EXPECT_FALSE(list.loadError());
        EXPECT_EQ(names(list), (v8 ? Names{"FA9V8", "COPY1"} : Names{"COPY1"}));
        EXPECT_STREQ(list.at(0)->installPath(), v8 ? "C:\\SQLLIB" : "C:\\One");
    }
}

// Found by path in short forms (a folder that does not exist has none, even when a copy
// records it), by name in any case, and as the default copy the list's key names.
TEST_F(Copies, Finders) {
    machine.makeDirs("C:\\Program Files\\ZNK\\Copy One");
    copy("ONE", "C:\\Program Files\\ZNK\\Copy One\\");
    copy("TWO", "C:\\Two");
    copy("GONE", "C:\\Gone");
    set(kCopies, "", "two");
    set(kCopies + "\\ONE", "IsMergeModuleCopy", "yes");
    InstallCopyList list(false, false);
    InstallCopy* found = nullptr;
    EXPECT_EQ(list.findByPath("c:\\PROGRA~1\\znk\\COPYON~1\\", &found), 0u);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->name(), "ONE");
    EXPECT_EQ(list.findByPath("C:\\program files\\ZNK\\copy one", &found), 0u);
    EXPECT_EQ(list.findByPath("C:\\Gone", &found), kRegistryFailed);
    EXPECT_EQ(list.findByPath("C:\\Windows", &found), kRegistryNoMatch);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(list.findByPath("C:\\Windows", nullptr), kRegistryMissingArgument);
    ASSERT_EQ(list.findDefaultCopy(&found), 0u);
    EXPECT_STREQ(found->name(), "TWO");
    ASSERT_EQ(list.findByName("one", &found), 0u);
    EXPECT_TRUE(found->isMergeModuleCopy());

    // The version 8 copy is the default one even with no InstalledCopies key at all.
    machine.registry().deleteKey(Hive::LocalMachine, kCopies);
    set(kProduct, "FA9 Path Name", "C:\\SQLLIB");
    InstallCopy v8("fa9v8", false, false);
    EXPECT_TRUE(v8.isDefaultCopy());
}

TEST_F(Copies, BuffersAndViews) {
    copy("C1", "C:\\Windows\\");
    set(kCopies + "\\C1\\GLOBAL_PROFILE", "FA9INSTDEF", "FA9");
    InstallCopy c1("C1", false, false), unnamed(nullptr, false, false);
    char buffer[80];
    EXPECT_EQ(c1.getDefaultInstance(buffer, 4), 0u);
    EXPECT_STREQ(buffer, "FA9");
    EXPECT_EQ(c1.getDefaultInstance(buffer, 3), kRegistryBufferTooSmall);
    EXPECT_EQ(unnamed.getDefaultInstance(buffer, sizeof buffer), kRegistryMissingArgument);
    EXPECT_EQ(InstallCopy(std::string(70, 'N').c_str(), false, false).name(), std::string(64, 'N'));

    // The 64-bit view reads the copy where 64-bit programs recorded it.
    set("SOFTWARE\\ZNK\\FA9\\InstalledCopies\\C64", "FA9 Path Name", "C:\\64");
    EXPECT_FALSE(InstallCopy("C64", false, true).isInvalid());
    EXPECT_TRUE(InstallCopy("C64", true, false).isInvalid());
}

// The copy this installation works on: the machine's record, else the user's unless the
// user installs for the machine; migrating finds the old product's path, read as it is.
TEST_F(Copies, CurrentCopyPathIsTheOneOfThisInstallation) {
    session.setProperty("FA9_COPY_NAME", "COPY1");
    set(kProduct, "FA9V8Path", "C:\\V8Path");
    const struct {
        const char* adminUser;
        const char* machinePath;  // null: not recorded
        const char* userPath;
        bool migrate;
        UINT rc;
        const char* path;
    } cases[] = {{"1", "C:\\Machine\\", "C:\\User", false, 0u, "C:\\Machine"},
                 {"", nullptr, "C:\\User\\", false, 0u, "C:\\User"},
                 {"1", nullptr, "C:\\User\\", false, 5007u, ""},
                 {"", nullptr, nullptr, false, 5007u, ""},
                 {"1", nullptr, "C:\\User", true, 0u, "C:\\V8Path"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "AdminUser '" << c.adminUser << "', " << (c.machinePath ? "machine, " : "")
                                          << (c.userPath ? "user" : "") << (c.migrate ? ", migrating" : ""));
        machine.registry().deleteKey(Hive::LocalMachine, kCopies + "\\COPY1");
        machine.registry().deleteKey(Hive::CurrentUser, "SOFTWARE\\ZNK\\FA9\\InstalledCopies\\COPY1");
        session.setProperty("AdminUser", c.adminUser);
        session.setProperty("INSTALL_MODE", c.migrate ? "Migrate" : "");
        if (c.machinePath) copy("COPY1", c.machinePath);
        if (c.userPath)
            set("SOFTWARE\\ZNK\\FA9\\InstalledCopies\\COPY1", "FA9 Path Name", c.userPath, Hive::CurrentUser);
        char buffer[64] = "";
        EXPECT_EQ(liteGetCopyInstallPath(buffer, sizeof buffer, session.handle()), c.rc);
        EXPECT_STREQ(buffer, c.path);
    }
}

}  // namespace

// The installed copies of the product: one copy, the list, its finders, and the
// installation path of the copy an installation works on.
#include "fixture.h"
#include "registry/install_copy.h"

using namespace fa9test;
using winsim::Hive;

namespace {

// A 32-bit process on 64-bit Windows: the product's HKLM keys live under WOW6432Node.
const std::string kProduct = "SOFTWARE\\WOW6432Node\\ZNK\\FA9";
const std::string kCopies = kProduct + "\\InstalledCopies";

class Copies : public SessionTest {
protected:
    ~Copies() override { EXPECT_EQ(machine.registry().openHandleCount(), 0u); }
    void set(const std::string& key, const char* name, const std::string& value, Hive hive = Hive::LocalMachine) {
        machine.registry().setString(hive, key, name, value);
    }
    void copy(const std::string& name, const std::string& path) { set(kCopies + "\\" + name, "FA9 Path Name", path); }
};

// A CurrentVersion whose leading number is 8 lists the old copy first, at its own path.
TEST_F(Copies, LeadingNumberEightListsTheOldCopyFirst) {
    set(kProduct, "FA9 Path Name", "C:\\SQLLIB\\");
    copy("COPY1", "C:\\One");
    using Names = std::vector<std::string>;
    for (const auto& [version, v8] : {std::pair<const char*, bool>{"8.2", true}, {"80", false}}) {
        SCOPED_TRACE(version);
        set(kProduct + "\\CurrentVersion", "Version", version);
        InstallCopyList list(false, false);
        EXPECT_FALSE(list.loadError());
        Names names;
        while (InstallCopy* c = list.next()) names.push_back(c->name());
        EXPECT_EQ(names, (v8 ? Names{"FA9V8", "COPY1"} : Names{"COPY1"}));
        EXPECT_STREQ(list.at(0)->installPath(), v8 ? "C:\\SQLLIB" : "C:\\One");
    }
}

// Found by path in short forms (a folder that does not exist has none, even when a copy
// records it), by name in any case, and as the default copy the list's key names.
TEST_F(Copies, FindersBuffersAndViews) {
    machine.makeDirs("C:\\Program Files\\ZNK\\Copy One");
    copy("ONE", "C:\\Program Files\\ZNK\\Copy One\\");
    copy("TWO", "C:\\Two");
    copy("GONE", "C:\\Gone");
    set(kCopies, "", "two");
    set(kCopies + "\\ONE", "IsMergeModuleCopy", "yes");
    InstallCopyList list(false, false);
    InstallCopy* found = nullptr;
    ASSERT_EQ(list.findByPath("c:\\PROGRA~1\\znk\\COPYON~1\\", &found), 0u);
    EXPECT_STREQ(found->name(), "ONE");
    EXPECT_EQ(list.findByPath("C:\\Gone", &found), kRegistryFailed);
    EXPECT_EQ(list.findByPath("C:\\Windows", &found), kRegistryNoMatch);
    EXPECT_EQ(found, nullptr);
    ASSERT_EQ(list.findDefaultCopy(&found), 0u);
    EXPECT_STREQ(found->name(), "TWO");
    ASSERT_EQ(list.findByName("one", &found), 0u);
    EXPECT_TRUE(found->isMergeModuleCopy());
    // The default instance within the caller's buffer; a name cut to 64 characters.
    set(kCopies + "\\TWO\\GLOBAL_PROFILE", "FA9INSTDEF", "FA9");
    char buffer[80];
    EXPECT_EQ(InstallCopy("TWO", false, false).getDefaultInstance(buffer, 4), 0u);
    EXPECT_STREQ(buffer, "FA9");
    EXPECT_EQ(InstallCopy("TWO", false, false).getDefaultInstance(buffer, 3), kRegistryBufferTooSmall);
    EXPECT_EQ(InstallCopy(std::string(70, 'N').c_str(), false, false).name(), std::string(64, 'N'));
    // The 64-bit view reads the copy where 64-bit programs recorded it.
    set("SOFTWARE\\ZNK\\FA9\\InstalledCopies\\C64", "FA9 Path Name", "C:\\64");
    EXPECT_FALSE(InstallCopy("C64", false, true).isInvalid());
    EXPECT_TRUE(InstallCopy("C64", true, false).isInvalid());
    // The version 8 copy is the default one even with no InstalledCopies key at all.
    machine.registry().deleteKey(Hive::LocalMachine, kCopies);
    set(kProduct, "FA9 Path Name", "C:\\SQLLIB");
    EXPECT_TRUE(InstallCopy("fa9v8", false, false).isDefaultCopy());
}

// The copy this installation works on: the machine's record, else the user's unless the
// user installs for the machine; migrating finds the old product's path, read as it is.
TEST_F(Copies, CurrentCopyPathIsTheOneOfThisInstallation) {
    session.setProperty("FA9_COPY_NAME", "COPY1");
    set(kProduct, "FA9V8Path", "C:\\V8Path");
    const std::string userCopy = "SOFTWARE\\ZNK\\FA9\\InstalledCopies\\COPY1";
    // The copy's path as the machine and the user recorded it (null: not recorded).
    const struct { const char* label; const char* adminUser; const char* onMachine; const char* forUser; bool migrate;
                   UINT rc; const char* path; } cases[] = {
        {"the machine's", "1", "C:\\Machine\\", "C:\\User", false, 0u, "C:\\Machine"},
        {"the user's", "", nullptr, "C:\\User\\", false, 0u, "C:\\User"},
        {"not the user's for the machine", "1", nullptr, "C:\\User\\", false, 5007u, ""},
        {"none", "", nullptr, nullptr, false, 5007u, ""},
        {"migrating", "1", nullptr, "C:\\User", true, 0u, "C:\\V8Path"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        machine.registry().deleteKey(Hive::LocalMachine, kCopies + "\\COPY1");
        machine.registry().deleteKey(Hive::CurrentUser, userCopy);
        session.setProperty("AdminUser", c.adminUser);
        session.setProperty("INSTALL_MODE", c.migrate ? "Migrate" : "");
        if (c.onMachine) copy("COPY1", c.onMachine);
        if (c.forUser) set(userCopy, "FA9 Path Name", c.forUser, Hive::CurrentUser);
        char buffer[64] = "";
        EXPECT_EQ(liteGetCopyInstallPath(buffer, sizeof buffer, session.handle()), c.rc);
        EXPECT_STREQ(buffer, c.path);
    }
}

}  // namespace

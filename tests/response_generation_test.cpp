// Setting up the response file: the file written from the dialog choices, the user's file,
// FILE against FA9_COPY_NAME, and telling a written file from the user's own.
#include "fixture.h"
#include "report_recorder.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "response/response_engine.h"
#include "response/response_generation.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <functional>

using ::testing::HasSubstr;
using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kCopies = "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\InstalledCopies";
const char* kUserFile = "C:\\rsp\\setup.rsp";
using Properties = std::vector<std::pair<std::string, std::string>>;

class RspSetup : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        set({{"TempFolder", kTempFolder}, {"UILevel", "5"}});
    }
    void set(const Properties& properties) {
        for (const auto& [name, value] : properties) session.setProperty(name, value);
    }
    // Runs `work` as a custom action runs it, the reports recorded; `after` sees the engine.
    UINT inContext(const std::function<UINT()>& work, const std::function<void(URE&)>& after = {}) {
        CustomActionContext context(session.handle());
        URE::instance()->attach(&recorder);
        UINT rc = work();
        if (after) after(*URE::instance());
        return rc;
    }
    UINT create(char* path) { return inContext([&] { return liteCreateGUIResponseFile(session.handle(), path); }); }
    UINT initialize(std::string* product = nullptr, bool* silent = nullptr) {
        return inContext([&] { return liteInitURERspFile(session.handle()); }, [&](URE& engine) {
            if (product) *product = engine.productCode();
            if (silent) *silent = engine.silent();
        });
    }
    void copy(const std::string& name, const std::string& path) {
        machine.registry().setString(Hive::LocalMachine, kCopies + "\\" + name, "FA9 Path Name", path);
        machine.makeDirs(path);
    }
    void defaultInstance(const std::string& copy, const std::string& instance) {
        const std::string key = kCopies + "\\" + copy + "\\GLOBAL_PROFILE";
        machine.registry().setString(Hive::LocalMachine, key, "FA9INSTDEF", instance);
    }
    std::vector<std::string> tempFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(kTempFolder)))
            if (e.is_regular_file()) names.push_back(e.path().filename().string());
        return names;
    }
    // The installed-copies list is built once a process, from the registry of that moment:
    // `body` runs in a fresh copy of this program (which repeats the test up to this call).
    void inFreshProcess(const std::function<void()>& body) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        const auto run = [&] {
            body();
            const bool failed = HasFailure();
            std::error_code ec;  // the fixture is not torn down on this way out
            std::filesystem::remove_all(machine.hostRoot(), ec);
            std::exit(failed ? 1 : 0);
        };
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
    }
    Recorder recorder;
};

const std::string kClientNew = "PROD=MORV_CLIENT\r\nINSTALL_TYPE=TYPICAL\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_COPY=\r\n"
                               "DEFAULT_CLIENT_INTERFACE_COPY=NO\r\n";
std::string instanceLines(const std::string& n) {
    return "DEFAULT_INSTANCE=" + n + "\r\nINSTANCE=" + n + "\r\n" + n + ".NAME=" + n + "\r\n";
}

// The written file, line by line. Copy ONE's registry names instance INSTR, which only a
// maintenance installation (product state 5) reads. Conditions compare with regard to case.
TEST_F(RspSetup, WrittenFileHoldsTheLinesOfItsProduct) {
    const Properties maintenance = {{"FA9_COPY_NAME", "ONE"}, {"ProductState", "5"}, {"PROP_RSP_FA9.NAME", "INSTA"}};
    const struct {
        const char* label;
        Properties properties;
        std::string content;
        UINT result = 0;
        const char* fa9Instance = "";  // FA9INSTANCE afterwards
    } rows[] = {
        {"tools", {{"PROP_RSP_PROD", "WOLT_TOOLS"}, {"FA9_COPY_NAME", "ONE"}}, "PROD=WOLT_TOOLS\r\n"},
        {"driver",
         {{"PROP_RSP_PROD", "PELA_DRIVER"}, {"FA9_COPY_NAME", "ONE"}, {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "Y"},
          {"MigrateCatalogToXML", "Y"}},
         "PROD=PELA_DRIVER\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_CLIENT_INTERFACE_COPY=YES\r\n"
         "MIGRATE_CATALOG_TO_XML=YES\r\n"},
        {"driver without copy name", {{"PROP_RSP_PROD", "PELA_DRIVER"}}, "PROD=PELA_DRIVER\r\nFA9_COPY_NAME=", 1603},
        {"client compact, the dialog's instance",
         {{"PROP_RSP_PROD", "MORV_CLIENT"}, {"p_installType0", "Compact"}, {"FA9_COPY_NAME", "ONE"},
          {"PROP_RSP_DEFAULT_COPY", "YES"}, {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "Y"}, {"PROP_RSP_FA9.NAME", "INSTA"},
          {"FA9_INSTANCE_NAME", "INSTB"}},
         "PROD=MORV_CLIENT\r\nINSTALL_TYPE=COMPACT\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_COPY=YES\r\n"
         "DEFAULT_CLIENT_INTERFACE_COPY=YES\r\n" + instanceLines("INSTA")},
        {"client custom, the second choice", {{"p_installType0", "Custom"}, {"FA9_COPY_NAME", "ONE"},
         {"FA9_INSTANCE_NAME", "INSTB"}}, "PROD=MORV_CLIENT\r\nINSTALL_TYPE=CUSTOM\r\nFA9_COPY_NAME=ONE\r\n"
         "DEFAULT_COPY=\r\nDEFAULT_CLIENT_INTERFACE_COPY=NO\r\n" + instanceLines("INSTB")},
        // A nine-character name does not fit: the product's usual one.
        {"client, lower-case answers and an overlong name",
         {{"p_installType0", "custom"}, {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "y"}, {"FA9_COPY_NAME", "ONE"},
          {"PROP_RSP_FA9.NAME", "NINECHARS"}},
         kClientNew + instanceLines("FA9")},
        {"client maintenance", maintenance, kClientNew + instanceLines("INSTR"), 0, "INSTR"},
        // The file is written whole; the refused property is reported and is the result.
        {"client maintenance, instance refused", maintenance, kClientNew + instanceLines("INSTR"), 1627},
    };
    defaultInstance("ONE", "INSTR");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        for (const auto& other : rows)
            for (const auto& property : other.properties) session.removeProperty(property.first);
        session.removeProperty("FA9INSTANCE");
        if (row.result == 1627) session.failSetProperty("FA9INSTANCE", 1627);
        set(row.properties);
        char path[260] = {};
        EXPECT_EQ(create(path), row.result);
        EXPECT_EQ(machine.readFile(path), row.content);
        std::filesystem::remove(machine.hostPath(path));
        EXPECT_EQ(session.property("FA9INSTANCE"), row.fa9Instance);
    }
}

TEST_F(RspSetup, MaintenanceFallsBackToTheDefaultCopy) {
    set({{"FA9_COPY_NAME", "ONE"}, {"ProductState", "5"}});
    copy("ONE", "C:\\Copies\\One");
    copy("TWO", "C:\\Copies\\Two");
    inFreshProcess([&] {
        char path[260] = {};
        // No default copy, then one without its profile: the lines go out with no name,
        // and the failure is the result.
        EXPECT_EQ(create(path), 0x9000006Du);
        EXPECT_EQ(machine.readFile(path), kClientNew + instanceLines(""));
        EXPECT_EQ(session.property("FA9INSTANCE"), "");
        machine.registry().setString(Hive::LocalMachine, kCopies, "", "two");
        EXPECT_EQ(create(path), 0x90000002u);
        defaultInstance("TWO", "INSTD");
        EXPECT_EQ(create(path), 0u);
        EXPECT_EQ(std::string(path), kTempFolder + "FA9RL002.rsp");
        EXPECT_EQ(machine.readFile(path), kClientNew + instanceLines("INSTD"));
        EXPECT_EQ(session.property("FA9INSTANCE"), "INSTD");
    });
}

TEST_F(RspSetup, NamesSkipFilesAndFoldersAndRunOut) {
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}});
    machine.writeFile(kTempFolder + "fa9rl000.RSP", "user's");
    machine.makeDirs(kTempFolder + "FA9RL001.rsp");
    char path[260] = {};
    EXPECT_EQ(create(path), 0u);
    EXPECT_EQ(std::string(path), kTempFolder + "FA9RL002.rsp");
    EXPECT_EQ(machine.readFile(kTempFolder + "fa9rl000.RSP"), "user's");
    for (int i = 3; i < 1000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "FA9RL%03d.rsp", i);
        machine.writeFile(kTempFolder + name, "");
    }
    EXPECT_EQ(create(path), 5046u);
    EXPECT_EQ(recorder.reports.size(), 1u);
}

TEST_F(RspSetup, NoTempFolderNoFile) {
    char path[260] = {};
    session.failGetProperty("TempFolder", 1615);
    EXPECT_EQ(create(path), 5046u);
    session.failGetProperty("TempFolder", 0);
    session.setProperty("TempFolder", "C:\\Missing\\");
    EXPECT_EQ(create(path), 5274u);
    session.setProperty("TempFolder", kTempFolder);
    machine.setVolumeFreeSpace('C', 8);  // made, then cut short by a full disk
    EXPECT_EQ(create(path), 5274u);
    EXPECT_EQ(recorder.reports.size(), 3u);
}

// ---- liteInitURERspFile ----

TEST_F(RspSetup, FullUiWithoutAFileWritesOneAndReadsIt) {
    set({{"PROP_RSP_PROD", "PELA_DRIVER"}, {"FA9_COPY_NAME", "ONE"}});
    std::string product;
    EXPECT_EQ(initialize(&product), 0u);
    EXPECT_EQ(session.property("RSP_FILE_PATH"), kTempFolder + "FA9RL000.rsp");
    EXPECT_EQ(product, "PELA_DRIVER");
    // A second action of the same installation reads the same file and writes none.
    EXPECT_EQ(initialize(), 0u);
    EXPECT_EQ(tempFiles(), std::vector<std::string>{"FA9RL000.rsp"});
}

// The user's file says one product; the package installs another.
TEST_F(RspSetup, ThePackageDecidesTheProductNotTheFile) {
    machine.writeFile(kUserFile, "PROD=PELA_DRIVER\nFA9_COPY_NAME=ONE\n");
    set({{"RSP_FILE_PATH", kUserFile}, {"UILevel", "3"}});
    for (const auto& [property, product] : Properties{{"WOLT_TOOLS", "WOLT_TOOLS"}, {"", "MORV_CLIENT"}}) {
        session.setProperty("PROP_RSP_PROD", property);
        std::string code;
        EXPECT_EQ(initialize(&code), 0u);
        EXPECT_EQ(code, product);
    }
}

// Unattended, a missing path fails the set-up silently; under the full UI a file that
// cannot be used is shown in a box. Neither leaves a file behind.
TEST_F(RspSetup, SetupFailuresReportAndFail) {
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}, {"UILevel", "2"}});
    bool silent = false;
    EXPECT_EQ(initialize(nullptr, &silent), 1603u);
    EXPECT_TRUE(silent);
    EXPECT_TRUE(machine.messageBoxes.empty());
    set({{"UILevel", "5"}, {"RSP_FILE_PATH", "C:\\rsp\\missing.rsp"}});
    EXPECT_EQ(initialize(nullptr, &silent), 1603u);
    EXPECT_FALSE(silent);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_THAT(log().back(), HasSubstr("missing.rsp could not be used"));
    EXPECT_EQ(tempFiles(), std::vector<std::string>{});
}

TEST_F(RspSetup, AWrittenPathTheSessionRefusesFailsTheSetUp) {
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}});
    session.failSetProperty("RSP_FILE_PATH", 1627);
    EXPECT_EQ(initialize(), 1603u);
    EXPECT_THAT(tempFiles(), ::testing::IsEmpty()) << "the file no property names is not left behind";
}

// ---- FILE against FA9_COPY_NAME ----

// The reports are named by their message: 6148 FILE is another copy's folder, 6144 a new
// copy's FILE is an installed copy's folder, 5375 a keyword is missing.
TEST_F(RspSetup, FileAndCopyNameMustNameOneCopy) {
    copy("ONE", "C:\\Copies\\One");
    copy("TWO", "C:\\Copies\\Two\\");
    copy("MERGED", "C:\\Copies\\Merged");
    machine.registry().setString(Hive::LocalMachine, kCopies + "\\MERGED", "IsMergeModuleCopy", "yes");
    set({{"RSP_FILE_PATH", kUserFile}, {"UILevel", "2"}});
    const struct {
        const char* product;  // PROP_RSP_PROD
        std::string fileLines;
        UINT result;
        std::vector<uint32_t> messages;
    } rows[] = {
        {"", "FILE=c:\\copies\\ONE\\\nFA9_COPY_NAME=one\n", 0, {}},  // the same copy: other case, a backslash more
        {"", "FILE=C:\\Copies\\Two\nFA9_COPY_NAME=ONE\n", 1603, {6148}},
        {"", "FILE=C:\\Copies\\Two\\\nFA9_COPY_NAME=NEWCOPY\n", 1603, {6144}},
        {"", "FILE=C:\\Elsewhere\nFA9_COPY_NAME=MERGED\n", 0, {}},  // a merge module's copy lies anywhere
        {"WOLT_TOOLS", "FILE=C:\\Copies\\Two\nFA9_COPY_NAME=ONE\n", 0, {}},  // the tools are not checked
        {"", "", 0, {5375, 5375}},  // without either only warnings
    };
    inFreshProcess([&] {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.product) + ": " + row.fileLines);
            machine.writeFile(kUserFile, "PROD=MORV_CLIENT\n" + row.fileLines);
            session.setProperty("PROP_RSP_PROD", row.product);
            recorder.reports.clear();
            EXPECT_EQ(initialize(), row.result);
            std::vector<uint32_t> messages;
            for (const Report& r : recorder.reports) messages.push_back(r.message);
            EXPECT_EQ(messages, row.messages);
        }
    });
}

// ---- a written file or the user's: the written name directly in TempFolder ----

TEST_F(RspSetup, OnlyAWrittenNameDirectlyInTempFolderCounts) {
    const struct {
        const char* tempFolder;
        const char* path;
        bool generated;
    } rows[] = {{"C:\\Temp\\", "c:\\TEMP\\fa9rl731.RSP", true}, {"C:\\Temp", "C:\\Temp\\FA9RL999.rsp", true},
                {"C:\\Temp\\", "C:\\Temp\\setup000.rsp", false}, {"C:\\Temp\\", "C:\\Temp\\FA9RL00.rsp", false},
                {"C:\\Temp\\", "C:\\Temp\\FA9RLa00.rsp", false}, {"C:\\Temp\\", "C:\\Temp\\sub\\FA9RL000.rsp", false},
                {"C:\\Temp\\", "FA9RL000.rsp", false}, {"", "\\FA9RL000.rsp", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " in [" + row.tempFolder + "]");
        session.setProperty("TempFolder", row.tempFolder);
        EXPECT_EQ(liteIsGeneratedResponseFile(session.handle(), row.path), row.generated);
    }
}

}  // namespace

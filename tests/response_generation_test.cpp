// Setting up the response file: the user's file of a silent installation, the file
// written from the dialog choices of a full-UI one (line by line, per product, new and
// maintenance installations), FILE against FA9_COPY_NAME, and telling a written file from
// the user's own.
#include "fixture.h"
#include "report_recorder.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "response/response_engine.h"
#include "response/response_generation.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace fa9test;
using winsim::Hive;

namespace {

const std::string kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp\\";
const std::string kCopies = "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\InstalledCopies";
const char* kUserFile = "C:\\rsp\\setup.rsp";

using Properties = std::vector<std::pair<std::string, std::string>>;

// A shown error of the file's writing.
Report shown(int probe, int64_t rc, uint32_t message, std::vector<std::string> tokens = {}) {
    return Report{URE_SHOW_ERROR, "liteCreateGUIResponseFile", probe, rc, message, std::move(tokens)};
}

class RspSetup : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("TempFolder", kTemp);
        session.setProperty("UILevel", "5");
    }
    void set(const Properties& properties) {
        for (const auto& [name, value] : properties) session.setProperty(name, value);
    }
    // Runs `work` the way a custom action runs it, with the reports recorded as well;
    // `after` sees the engine before the context takes it down.
    template <typename Work>
    UINT inContext(Work work, const std::function<void(URE&)>& after = {}) {
        CustomActionContext context(session.handle());
        URE::instance()->attach(&recorder);
        UINT rc = work();
        if (after) after(*URE::instance());
        return rc;
    }
    UINT create(char* path) {
        return inContext([&] { return liteCreateGUIResponseFile(session.handle(), path); });
    }
    UINT initialize(std::string* productCode = nullptr) {
        return inContext([&] { return liteInitURERspFile(session.handle()); },
                         [&](URE& engine) {
                             if (productCode) *productCode = engine.productCode();
                         });
    }
    void copy(const std::string& name, const std::string& path) {
        machine.registry().setString(Hive::LocalMachine, kCopies + "\\" + name, "FA9 Path Name", path);
        machine.makeDirs(path);
    }
    void defaultInstance(const std::string& copyName, const std::string& instance) {
        machine.registry().setString(Hive::LocalMachine, kCopies + "\\" + copyName + "\\GLOBAL_PROFILE", "FA9INSTDEF",
                                     instance);
    }
    std::vector<std::string> tempFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(machine.hostPath(kTemp)))
            if (e.is_regular_file()) names.push_back(e.path().filename().string());
        return names;
    }

    // The installed-copies list is built once per process, from the registry of that
    // moment. A test that depends on its contents runs `body` in a fresh copy of this
    // program (which repeats the test up to this call), where the list does not exist yet.
    void inFreshProcess(const std::function<void()>& body) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(runAndExit(body), ::testing::ExitedWithCode(0), "");
    }

    Recorder recorder;

private:
    [[noreturn]] void runAndExit(const std::function<void()>& body) {
        ::testing::TestPartResultArray results;
        {
            ::testing::ScopedFakeTestPartResultReporter intercept(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
            body();
        }
        int failures = 0;
        for (int i = 0; i < results.size(); ++i) {
            const ::testing::TestPartResult& r = results.GetTestPartResult(i);
            if (!r.failed()) continue;
            ++failures;
            std::fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(), r.message());
        }
        // The fixture is not torn down on this way out: take its machine's files along.
        std::error_code ec;
        std::filesystem::remove_all(machine.hostRoot(), ec);
        std::exit(failures ? 1 : 0);
    }
};

// ---- the written file, line by line ----

struct FileCase {
    const char* name;
    Properties properties;
    std::string content;
    std::optional<std::string> registryInstance = std::nullopt;  // FA9INSTDEF of copy ONE
    const char* fa9Instance = "";                                 // FA9INSTANCE afterwards ("" = not set)
    UINT result = 0;
    UINT instanceFault = 0;  // the session refuses FA9INSTANCE with this
    std::vector<Report> reports = {};
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class GeneratedFile : public RspSetup, public ::testing::WithParamInterface<FileCase> {};

TEST_P(GeneratedFile, HoldsTheLinesOfItsProduct) {
    const FileCase& c = GetParam();
    set(c.properties);
    if (c.registryInstance) defaultInstance("ONE", *c.registryInstance);
    if (c.instanceFault) session.failSetProperty("FA9INSTANCE", c.instanceFault);
    char path[260] = {};
    EXPECT_EQ(create(path), c.result);
    EXPECT_EQ(std::string(path), kTemp + "FA9RL000.rsp");
    EXPECT_EQ(machine.readFile(path), c.content);
    EXPECT_EQ(session.property("FA9INSTANCE"), c.fa9Instance);
    EXPECT_EQ(recorder.reports, c.reports);
}

const std::string kClientNew =
    "PROD=MORV_CLIENT\r\nINSTALL_TYPE=TYPICAL\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_COPY=\r\n"
    "DEFAULT_CLIENT_INTERFACE_COPY=NO\r\n";

std::string instanceLines(const std::string& n) {
    return "DEFAULT_INSTANCE=" + n + "\r\nINSTANCE=" + n + "\r\n" + n + ".NAME=" + n + "\r\n";
}
std::string driverLines(const char* defaultInterface, const char* migrate) {
    return std::string("PROD=PELA_DRIVER\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_CLIENT_INTERFACE_COPY=") + defaultInterface +
           "\r\nMIGRATE_CATALOG_TO_XML=" + migrate + "\r\n";
}
const Properties kMaintenance = {{"FA9_COPY_NAME", "ONE"}, {"ProductState", "5"}, {"PROP_RSP_FA9.NAME", "INSTA"}};

INSTANTIATE_TEST_SUITE_P(
    Rsp, GeneratedFile,
    ::testing::Values(
        FileCase{"tools", {{"PROP_RSP_PROD", "WOLT_TOOLS"}, {"FA9_COPY_NAME", "ONE"}}, "PROD=WOLT_TOOLS\r\n"},
        FileCase{"driver",
                 {{"PROP_RSP_PROD", "PELA_DRIVER"}, {"FA9_COPY_NAME", "ONE"},
                  {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "Y"}, {"MigrateCatalogToXML", "Y"}},
                 driverLines("YES", "YES")},
        // Conditions compare strings with regard to case.
        FileCase{"driver_lower_case_answers",
                 {{"PROP_RSP_PROD", "PELA_DRIVER"}, {"FA9_COPY_NAME", "ONE"},
                  {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "y"}, {"MigrateCatalogToXML", "yes"}},
                 driverLines("NO", "NO")},
        FileCase{"driver_without_copy_name", {{"PROP_RSP_PROD", "PELA_DRIVER"}}, "PROD=PELA_DRIVER\r\nFA9_COPY_NAME=",
                 std::nullopt, "", 1603},
        FileCase{"client_compact_with_dialog_instance",
                 {{"PROP_RSP_PROD", "MORV_CLIENT"}, {"p_installType0", "Compact"}, {"FA9_COPY_NAME", "ONE"},
                  {"PROP_RSP_DEFAULT_COPY", "YES"}, {"IS_DEFAULT_CLIENT_INTERFACE_COPY", "Y"},
                  {"PROP_RSP_FA9.NAME", "INSTA"}, {"FA9_INSTANCE_NAME", "INSTB"}},
                 "PROD=MORV_CLIENT\r\nINSTALL_TYPE=COMPACT\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_COPY=YES\r\n"
                 "DEFAULT_CLIENT_INTERFACE_COPY=YES\r\n" + instanceLines("INSTA")},
        FileCase{"client_custom_second_choice",
                 {{"p_installType0", "Custom"}, {"FA9_COPY_NAME", "ONE"}, {"FA9_INSTANCE_NAME", "INSTB"}},
                 "PROD=MORV_CLIENT\r\nINSTALL_TYPE=CUSTOM\r\nFA9_COPY_NAME=ONE\r\nDEFAULT_COPY=\r\n"
                 "DEFAULT_CLIENT_INTERFACE_COPY=NO\r\n" + instanceLines("INSTB")},
        // A new installation: "custom" is not "Custom"; a nine-character name does not fit
        // and is passed over for the product's usual one.
        FileCase{"client_other_type_and_overlong_name",
                 {{"p_installType0", "custom"}, {"FA9_COPY_NAME", "ONE"}, {"PROP_RSP_FA9.NAME", "NINECHARS"}},
                 kClientNew + instanceLines("FA9")},
        FileCase{"client_without_copy_name", {{"PROP_RSP_PROD", "OTHER"}},
                 "PROD=MORV_CLIENT\r\nINSTALL_TYPE=TYPICAL\r\nFA9_COPY_NAME=", std::nullopt, "", 1603},
        FileCase{"client_maintenance_registry_instance", kMaintenance, kClientNew + instanceLines("INSTR"), "INSTR",
                 "INSTR"},
        // Only the installed product (state 5) is a maintenance installation.
        FileCase{"client_advertised_is_new",
                 {{"FA9_COPY_NAME", "ONE"}, {"ProductState", "1"}, {"PROP_RSP_FA9.NAME", "INSTA"}},
                 kClientNew + instanceLines("INSTA"), "INSTR"},
        // The file is written whole; the refused property is reported and is the result.
        FileCase{"client_maintenance_instance_refused", kMaintenance, kClientNew + instanceLines("INSTR"), "INSTR", "",
                 1627, 1627,
                 {Report{URE_LOG_ERROR, "liteCreateGUIResponseFile", 50, 1627, 5389, {"iMsiSetProperty:1627"}}}}),
    [](const ::testing::TestParamInfo<FileCase>& i) { return std::string(i.param.name); });

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
        EXPECT_EQ(std::string(path), kTemp + "FA9RL002.rsp");
        EXPECT_EQ(machine.readFile(path), kClientNew + instanceLines("INSTD"));
        EXPECT_EQ(session.property("FA9INSTANCE"), "INSTD");
    });
}

TEST_F(RspSetup, NamesSkipFilesAndFoldersAndRunOut) {
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}});
    machine.writeFile(kTemp + "fa9rl000.RSP", "user's");
    machine.makeDirs(kTemp + "FA9RL001.rsp");
    char path[260] = {};
    EXPECT_EQ(create(path), 0u);
    EXPECT_EQ(std::string(path), kTemp + "FA9RL002.rsp");
    EXPECT_EQ(machine.readFile(kTemp + "fa9rl000.RSP"), "user's");

    for (int i = 3; i < 1000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "FA9RL%03d.rsp", i);
        machine.writeFile(kTemp + name, "");
    }
    EXPECT_EQ(create(path), 5046u);
    EXPECT_EQ(recorder.reports, std::vector<Report>{shown(30, 5046, 5046)});
}

TEST_F(RspSetup, NoTempFolderNoFile) {
    char path[260] = {};
    session.failGetProperty("TempFolder", 1615);
    EXPECT_EQ(create(path), 5046u);
    session.failGetProperty("TempFolder", 0);
    session.removeProperty("TempFolder");
    EXPECT_EQ(create(path), 5046u);
    session.setProperty("TempFolder", "C:\\Missing\\");
    EXPECT_EQ(create(path), 5274u);
    // Made, then cut short by a full disk.
    session.setProperty("TempFolder", kTemp);
    machine.setVolumeFreeSpace('C', 8);
    EXPECT_EQ(create(path), 5274u);
    EXPECT_EQ(recorder.reports, (std::vector<Report>{shown(20, 1615, 5046), shown(20, 0, 5046),
                                                     shown(40, 5274, 5274, {"C:\\Missing\\FA9RL000.rsp"}),
                                                     shown(45, 5274, 5274, {kTemp + "FA9RL000.rsp"})}));
}

// ---- liteInitURERspFile ----

TEST_F(RspSetup, FullUiWithoutAFileWritesOneAndReadsIt) {
    set({{"PROP_RSP_PROD", "PELA_DRIVER"}, {"FA9_COPY_NAME", "ONE"}});
    std::string product;
    EXPECT_EQ(initialize(&product), 0u);
    EXPECT_EQ(session.property("RSP_FILE_PATH"), kTemp + "FA9RL000.rsp");
    EXPECT_EQ(product, "PELA_DRIVER");
    // A written file never gives FILE, so the copy check says so and goes on.
    EXPECT_EQ(log(), std::vector<std::string>{logged(
                         "Warning: The response file does not give the keyword FILE, or its value could not be read.")});
    // A second action of the same installation reads the same file and writes none.
    recorder.reports.clear();
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
    EXPECT_EQ(tempFiles(), std::vector<std::string>{});
}

struct SetupFailure {
    const char* name;
    const char* uiLevel;  // null: the read fails
    UINT pathFault;  // 0: the read succeeds
    const char* rspPath;
    std::vector<std::string> log;
    size_t boxes;
};
void PrintTo(const SetupFailure& c, std::ostream* os) { *os << c.name; }

class SetupFailures : public RspSetup, public ::testing::WithParamInterface<SetupFailure> {};

TEST_P(SetupFailures, ReportAndFail) {
    const SetupFailure& c = GetParam();
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}, {"RSP_FILE_PATH", c.rspPath}});
    if (c.uiLevel)
        session.setProperty("UILevel", c.uiLevel);
    else
        session.failGetProperty("UILevel", 1615);
    session.failGetProperty("RSP_FILE_PATH", c.pathFault);
    bool silent = false;
    EXPECT_EQ(inContext([&] { return liteInitURERspFile(session.handle()); },
                        [&](URE& engine) { silent = engine.silent(); }),
              1603u);
    std::vector<std::string> expected;
    for (const auto& line : c.log) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.messageBoxes.size(), c.boxes);
    EXPECT_EQ(silent, c.uiLevel == nullptr || std::string(c.uiLevel) != "5");
    EXPECT_EQ(tempFiles(), std::vector<std::string>{});
}

std::string noRsp(const std::string& code) {
    return "Error: The property RSP_FILE_PATH, which names the response file of an unattended installation, could not "
           "be read (result code " + code + "). Give the response file as RSP_FILE_PATH=<path> on the command line.";
}
INSTANTIATE_TEST_SUITE_P(
    Rsp, SetupFailures,
    ::testing::Values(
        SetupFailure{"reduced_ui_without_file", "2", 0, "", {noRsp("0")}, 0},
        SetupFailure{"unreadable_ui_level_and_path", nullptr, 1615, "", {noRsp("1615")}, 0},
        SetupFailure{"missing_file_full_ui", "5", 0, "C:\\rsp\\missing.rsp",
                     {"Error: The response file C:\\rsp\\missing.rsp could not be opened. Check its path and your "
                      "access rights, then run the installation again.",
                      "Error: The response file C:\\rsp\\missing.rsp could not be used. Check the preceding lines of "
                      "this log for the reason, correct the file and run the installation again."},
                     1}),
    [](const ::testing::TestParamInfo<SetupFailure>& i) { return std::string(i.param.name); });

TEST_F(RspSetup, AWrittenPathTheSessionRefusesFailsTheSetUp) {
    set({{"PROP_RSP_PROD", "WOLT_TOOLS"}});
    session.failSetProperty("RSP_FILE_PATH", 1627);
    EXPECT_EQ(initialize(), 1603u);
    EXPECT_EQ(log(), std::vector<std::string>{logged("Error: An installer operation failed: MsiSetInstallProperty:1627.")});
    EXPECT_THAT(tempFiles(), ::testing::IsEmpty()) << "the file no property names is not left behind";
}

// ---- FILE against FA9_COPY_NAME ----

Report init(uint32_t flags, int probe, int64_t rc, uint32_t message, std::vector<std::string> tokens) {
    return Report{flags, "liteInitURERspFile", probe, rc, message, std::move(tokens)};
}
Report contradiction(int probe, uint32_t message, std::vector<std::string> tokens) {
    return init(URE_LOG_ERROR, probe, 1603, message, std::move(tokens));
}

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
        std::vector<Report> reports;
    } cases[] = {
        // the same copy in another case, with a trailing backslash
        {"", "FILE=c:\\copies\\ONE\\\nFA9_COPY_NAME=one\n", 0, {}},
        {"", "FILE=C:\\Copies\\Two\nFA9_COPY_NAME=ONE\n", 1603, {contradiction(70, 6148, {"ONE", "C:\\Copies\\One"})}},
        // another copy's directory for a new copy
        {"", "FILE=C:\\Copies\\Two\\\nFA9_COPY_NAME=NEWCOPY\n", 1603,
         {contradiction(80, 6144, {"C:\\Copies\\Two\\", "NEWCOPY"})}},
        {"", "FILE=C:\\Copies\\Three\nFA9_COPY_NAME=NEWCOPY\n", 0, {}},
        {"", "FILE=C:\\Elsewhere\nFA9_COPY_NAME=MERGED\n", 0, {}},  // a merge module's copy lies anywhere
        {"WOLT_TOOLS", "FILE=C:\\Copies\\Two\nFA9_COPY_NAME=ONE\n", 0, {}},  // the tools are not checked
        {"PELA_DRIVER", "FILE=C:\\Copies\\Two\nFA9_COPY_NAME=ONE\n", 1603,
         {contradiction(70, 6148, {"ONE", "C:\\Copies\\One"})}},
        // without either only warnings
        {"", "FA9_COPY_NAME=ONE\n", 0, {init(URE_LOG_WARNING, 30, 0, 5375, {"FILE"})}},
        {"", "", 0, {init(URE_LOG_WARNING, 30, 0, 5375, {"FILE"}), init(URE_LOG_WARNING, 50, 0, 5375, {"FA9_COPY_NAME"})}},
    };
    inFreshProcess([&] {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.product) + ": " + c.fileLines);
            machine.writeFile(kUserFile, "PROD=MORV_CLIENT\n" + c.fileLines);
            session.setProperty("PROP_RSP_PROD", c.product);
            recorder.reports.clear();
            EXPECT_EQ(initialize(), c.result);
            EXPECT_EQ(recorder.reports, c.reports);
        }
    });
}

// ---- a written file or the user's ----

TEST_F(RspSetup, OnlyAWrittenNameDirectlyInTempFolderCounts) {
    const struct {
        const char* tempFolder;
        const char* path;
        bool generated;
    } cases[] = {{"C:\\Temp\\", "C:\\Temp\\FA9RL000.rsp", true},     {"C:\\Temp\\", "c:\\TEMP\\fa9rl731.RSP", true},
                 {"C:\\Temp", "C:\\Temp\\FA9RL999.rsp", true},       {"C:\\Temp\\", "C:\\Temp\\setup000.rsp", false},
                 {"C:\\Temp\\", "C:\\Temp\\FA9RL00.rsp", false},   {"C:\\Temp\\", "C:\\Temp\\FA9RL0000.rsp", false},
                 {"C:\\Temp\\", "C:\\Temp\\FA9RLa00.rsp", false},  {"C:\\Temp\\", "C:\\Temp\\sub\\FA9RL000.rsp", false},
                 {"C:\\Temp\\", "C:\\Temp2\\FA9RL000.rsp", false}, {"C:\\Temp\\", "FA9RL000.rsp", false},
                 {"", "\\FA9RL000.rsp", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in [" + c.tempFolder + "]");
        session.setProperty("TempFolder", c.tempFolder);
        EXPECT_EQ(liteIsGeneratedResponseFile(session.handle(), c.path), c.generated);
    }
}

}  // namespace

// The custom-action frame: language choice, engine lifetime, reports turning into log
// lines and message boxes, message lookup and token substitution.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/install_log.h"
#include "frame/language.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "frame/ure_observers.h"

#include <gmock/gmock.h>

#include <cstring>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using namespace fa9test;

namespace {

MsgTokenHolder tokens(std::initializer_list<const char*> values) {
    MsgTokenHolder holder;
    for (const char* v : values) holder.addString(v);
    return holder;
}

class FrameTest : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(frameStrings("en_US"));
        session.setProperty("GENERIC_DLG_TITLE", "Add-ins Setup");
    }
    // One report from inside a custom action, `token` (if any) as its %1.
    int report(uint32_t flags, uint32_t message, const char* token = nullptr, bool silent = false) {
        CustomActionContext context(session.handle());
        if (silent) URE::instance()->setSilent(true);
        MsgTokenHolder holder = tokens({token ? token : ""});
        return ureReport(flags, "test", 5, 9, message, token ? &holder : nullptr, 0, true);
    }
    void forgetOutput() {
        session.clearLog();
        machine.messageBoxes.clear();
        session.installerBoxes.clear();
    }
};

// ---------------------------------------------------------------- language

// ProductLanguage's leading decimal number names the engine's language when the table
// knows it (Spanish in any of its forms); nothing is chosen otherwise.
TEST_F(SessionTest, ProductLanguagePicksTheEngineLanguage) {
    const std::pair<const char*, const char*> cases[] = {  // null: not set
        {nullptr, ""},       {" \t\n\v\f\r1031", "de_DE"}, {"2057", ""}, {"1034", "es_ES"},
        {"1041xyz", "ja_JP"}, {"66569", "en_US"},           {"0x0409", ""},    {"1053", "sv_SE"}};
    for (const auto& [value, locale] : cases) {
        SCOPED_TRACE(value ? value : "(not set)");
        if (value) session.setProperty("ProductLanguage", value);
        CustomActionContext context(session.handle());
        ASSERT_NE(URE::existing(), nullptr);
        EXPECT_STREQ(URE::existing()->language(), locale);
    }
}

TEST_F(FrameTest, MessagesComeFromTheLanguageFolderWhenItExists) {
    machine.copyFileIn(frameStrings("de_DE"), std::string(kRuntimeDir) + "\\locale\\de_DE\\fa9istring_v97.dll");
    session.setProperty("ProductLanguage", "1031");
    report(URE_LOG_ERROR, 2006, "5");
    session.setProperty("ProductLanguage", "1036");  // French: no folder, the runtime folder's copy answers
    report(URE_LOG_ERROR, 2006, "6");
    EXPECT_THAT(log(), ElementsAre(logged("FEHLER: Fehlgeschlagen mit 5."), logged("ERR: Failed with code 6.")));
}

// ---------------------------------------------------------------- engine lifetime

UINT WINAPI reportingAction(MSIHANDLE h) {
    CustomActionContext context(h);
    MsgTokenHolder code;
    code.addInt(5);
    ureReport(URE_SHOW_ERROR, "reportingAction", 20, 5, 2006, &code, 0, true);
    return 0;
}

UINT WINAPI inspectingAction(MSIHANDLE h) {
    // What a custom action finds before its own context is built.
    URE* engine = URE::existing();
    if (engine) return 1;
    CustomActionContext context(h);
    return std::strcmp(URE::existing()->language(), "") == 0 && URE::existing()->count() == 2 ? 0 : 2;
}

TEST_F(FrameTest, EachCustomActionStartsFromAnEmptyEngine) {
    session.setProperty("ProductLanguage", "1031");
    EXPECT_EQ(run(reportingAction), 0u);
    EXPECT_EQ(URE::existing(), nullptr);
    session.removeProperty("ProductLanguage");
    EXPECT_EQ(run(inspectingAction), 0u);
    EXPECT_EQ(URE::existing(), nullptr);
    // No observer is left behind: a report outside any custom action reaches nobody.
    MsgTokenHolder code = tokens({"7"});
    ureReport(URE_SHOW_ERROR, "outside", 5, 7, 2006, &code, 0, true);
    URE::destroy();
    EXPECT_EQ(log().size(), 1u);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

// ---------------------------------------------------------------- reports

// The flags choose the line's prefix (from the strings) and the box's buttons and icon; a
// silent engine still logs. The box carries the dialog title and the foreground window.
// Immediate actions keep their boxes even in a silent installation.
TEST_F(FrameTest, PrefixAndBoxFollowTheFlags) {
    session.setProperty("UILevel", "2");
    const struct {
        uint32_t flags;
        const char* prefix;  // null: nothing written
        UINT style;          // 0: no box
        bool silent;
    } cases[] = {{URE_LOG_ERROR, "ERR: ", 0, false},          {URE_LOG_WARNING, "WARN: ", 0, false},
                 {URE_LOG_INFO, "INFO: ", 0, false},          {URE_LOG_PLAIN, "", 0, false},
                 {URE_LOG_PLAIN_ALT, "", 0, false},           {URE_SHOW_ERROR, "ERR: ", 0x10010, false},
                 {URE_SHOW_ERROR, "ERR: ", 0, true},          {URE_SHOW_WARNING, "WARN: ", 0x10030, false},
                 {URE_ASK_YESNO, "INFO: ", 0x10024, false},   {URE_ASK_YESNOCANCEL, "INFO: ", 0x10023, false},
                 {URE_ASK_RETRYCANCEL, "", 0x10025, false},   {URE_ASK_ABORTRETRYIGNORE, "", 0x10022, false},
                 {0x04000003, nullptr, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags 0x" << std::hex << c.flags << (c.silent ? " silent" : ""));
        forgetOutput();
        machine.messageBoxAnswers = {IDNO};
        EXPECT_EQ(report(c.flags, 2006, "9", c.silent), c.style ? IDNO : 0);
        if (c.prefix)
            EXPECT_THAT(log(), ElementsAre(logged(c.prefix + std::string("Failed with code 9."))));
        else
            EXPECT_THAT(log(), IsEmpty());
        EXPECT_EQ(machine.messageBoxes.size(), c.style ? 1u : 0u);
        EXPECT_THAT(session.installerBoxes, IsEmpty());
        for (const winsim::MessageBoxCall& box : machine.messageBoxes) {
            EXPECT_EQ(box.style, c.style);
            EXPECT_EQ(box.text, "Failed with code 9.");
            EXPECT_EQ(box.caption, "Add-ins Setup");
            EXPECT_EQ(box.owner, machine.foregroundWindow);
        }
    }
}

// A report from the installer's script (deferred, rollback, commit) that would show a box
// goes to the installer instead: it shows its own box at every level but none, answers a
// silent installation itself (0), and keeps the message in its log, in the library's own
// English (the script has no runtime folder's library).
TEST_F(FrameTest, ScriptReportsGoThroughTheInstaller) {
    using winsim::RunMode;
    const struct {
        RunMode mode;
        const char* uiLevel;
        uint32_t flags;
        INSTALLMESSAGE kind;
        UINT buttons, icon;  // of the installer's box; no icon: none shown
        const char* prefix;
    } cases[] = {
        {RunMode::Scheduled, "5", URE_SHOW_ERROR, INSTALLMESSAGE_ERROR, MB_OK, MB_ICONERROR, "Error: "},
        {RunMode::Scheduled, "2", URE_SHOW_ERROR, INSTALLMESSAGE_ERROR, 0, 0, "Error: "},
        {RunMode::Rollback, "5", URE_SHOW_WARNING, INSTALLMESSAGE_WARNING, MB_OK, MB_ICONWARNING, "Warning: "},
        {RunMode::Commit, "5", URE_ASK_YESNO, INSTALLMESSAGE_USER, MB_YESNO, MB_ICONQUESTION, "Information: "},
        {RunMode::Commit, "5", URE_ASK_ABORTRETRYIGNORE, INSTALLMESSAGE_USER, MB_ABORTRETRYIGNORE, MB_ICONQUESTION,
         ""}};
    const std::string text = "An installation step failed with result code 9. Check the preceding lines of this log "
                             "for the cause, correct it and run the installation again.";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int(c.mode) << ", UILevel " << c.uiLevel << ", flags 0x"
                                          << std::hex << c.flags);
        forgetOutput();
        session.setProperty("UILevel", c.uiLevel);
        session.setRunMode(c.mode);
        session.installerBoxAnswers = {IDNO};
        const int answer = report(c.flags, 2006, "9");
        EXPECT_THAT(machine.messageBoxes, IsEmpty());
        ASSERT_EQ(session.log().size(), 2u);
        EXPECT_EQ(session.log()[0].line, logged(c.prefix + text));
        EXPECT_EQ(session.log()[1].type, c.kind);
        EXPECT_EQ(session.log()[1].line, text);
        EXPECT_EQ(answer, c.icon ? IDNO : 0);
        ASSERT_EQ(session.installerBoxes.size(), c.icon ? 1u : 0u);
        for (const winsim::InstallerBox& box : session.installerBoxes) {
            EXPECT_EQ(box.kind, c.kind);
            EXPECT_EQ(box.text, text);
            EXPECT_EQ(box.buttons, c.buttons);
            EXPECT_EQ(box.icon, c.icon);
        }
    }
}

// A standard user's action strips through the runtime folder's allocator; an elevated
// one, or the script, never loads that library (the user's to replace) and strips alike.
TEST_F(FrameTest, QuotedMessageLosesItsQuotesAndKeepsItsBlanks) {
    for (const bool elevated : {true, false}) {
        SCOPED_TRACE(elevated);
        machine.token.administrator = elevated;
        forgetOutput();
        report(URE_SHOW_ERROR, 100);
        EXPECT_THAT(log(), ElementsAre(logged("ERR:   quoted text")));
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].text, "  quoted text");
        EXPECT_EQ(machine.loadedModules().size(), elevated ? 0u : 1u);
    }
}

TEST_F(FrameTest, WithoutTheAllocatorLibraryQuotesBecomeABlank) {
    // Only the runtime directory's copy counts: one of that name elsewhere on the search
    // path (here the current directory) is never loaded.
    machine.copyFileIn(FA9_OSSE_DLL, "C:\\Users\\setup\\fa9osse_install3.dll");
    machine.setCurrentDirectory("C:\\Users\\setup");
    ASSERT_TRUE(DeleteFileA((std::string(kRuntimeDir) + "\\fa9osse_install3.dll").c_str()));
    machine.token.administrator = false;  // a standard user, who would take the library
    CustomActionContext context(session.handle());
    ureReport(URE_LOG_ERROR, "test", 5, 1, 100, nullptr, 0, true);
    ureReportText(URE_LOG_ERROR, "test", 5, 1, "\"x\"", true);
    EXPECT_THAT(log(), ElementsAre(logged("ERR:    quoted text"), logged("ERR:  x")));
    EXPECT_THAT(machine.loadedModules(), IsEmpty());
}

// The strings are read from the language's folder first, a place nothing extracts to: a
// library planted there may give its texts, but none of its code runs.
TEST_F(FrameTest, APlantedStringLibraryIsReadAsDataOnly) {
    const std::string planted = std::string(kRuntimeDir) + "\\locale\\en_US\\fa9istring_v97.dll";
    machine.copyFileIn(std::string(FA9_TEST_DATA_DIR) + "/planted/fa9istring_v97.dll", planted);
    CustomActionContext context(session.handle());
    char text[64];
    EXPECT_EQ(ureGetString(2006, text, sizeof text, nullptr), 0);
    EXPECT_STREQ(text, "Fehlgeschlagen mit %1.");
    EXPECT_EQ(machine.dataFileModules(), std::vector<std::string>{planted});
}

// No message number logs the generic failure; a number the library lacks writes nothing;
// one too long for the first try is retried until it fits.
TEST_F(FrameTest, ReportsWithoutAReadyText) {
    report(URE_SHOW_ERROR, 0);
    report(URE_SHOW_ERROR, 4242);
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
    report(URE_LOG_ERROR, 104);
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0], logged("Failed with code 0."));
    const std::string line = log()[1];
    EXPECT_EQ(line.size(), std::string("1: ERR: ").size() + 1799 + 1);
    EXPECT_THAT(line, StartsWith("1: ERR: w0000 w0001"));
    EXPECT_NE(line.find("w0299 "), std::string::npos);
}

TEST_F(FrameTest, WithoutTheStringLibraryOnlyLiteralTextsAreWritten) {
    session.setProperty("pFA9RuntimeDirectory", "C:\\Nowhere");
    CustomActionContext context(session.handle());
    MsgTokenHolder code = tokens({"5"});
    ureReport(URE_SHOW_ERROR, "test", 5, 5, 2006, &code, 0, true);
    ureReportText(URE_LOG_ERROR, "test", 5, 5, "plain words", true);
    EXPECT_THAT(log(), ElementsAre(logged("Could not load the resource library C:\\Nowhere\\fa9istring_v97.dll"
                                          "The specified module could not be found.\r\nplain words")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

// ---------------------------------------------------------------- lookup and tokens

TEST_F(FrameTest, TokensAreSubstitutedAndNeedRoomForThemselves) {
    CustomActionContext context(session.handle());
    MsgTokenHolder two = tokens({"first", "second"});
    char buffer[64];
    ASSERT_EQ(ureGetString(101, buffer, sizeof buffer, &two), 0);
    EXPECT_STREQ(buffer, "first and second");
    // "%1 and %2" is 9 characters; with both tokens (11) a buffer of 20 is one too small.
    EXPECT_EQ(ureGetString(101, buffer, 20, &two), 5006);
    EXPECT_EQ(ureGetString(101, buffer, 21, &two), 0);
    EXPECT_EQ(ureGetString(102, buffer, sizeof buffer, &two), -1);
    ASSERT_EQ(ureGetString(103, buffer, sizeof buffer, &two), 0);
    EXPECT_STREQ(buffer, "percent x, % and  end ");
}

// ---------------------------------------------------------------- log helpers

TEST_F(FrameTest, CallFailureLinesUseTheLibraryOnlyOnceLoaded) {
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 0);
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 1605);
    char text[64];
    ASSERT_EQ(liteLoadString(2006, text, sizeof text, (std::string(kRuntimeDir) + "\\fa9istring_v97.dll").c_str()), 0);
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 1605);
    iLogCallFailure(session.handle(), "iMsiSetProperty", nullptr, 5);
    EXPECT_THAT(log(), ElementsAre(logged("iMsiGetProperty failed with return code '1605'."),
                                   logged("Reading INSTALLDIR: iMsiGetProperty failed (1605)."),
                                   logged("iMsiSetProperty failed (5).")));
}

}  // namespace

// Reports turning into log lines and message boxes: the prefix and box the flags choose,
// and the installer's own box for the script's reports.
#include "fixture.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <gmock/gmock.h>

#include <tuple>

using ::testing::IsEmpty;
using namespace fa9test;
using Lines = std::vector<std::string>;

namespace {

// The flags choose the line's prefix (from the strings; null: nothing written) and the
// box's style (0: no box); a silent engine still logs. The box carries the dialog title and
// the foreground window. Immediate actions keep their boxes even in a silent installation.
TEST_F(FrameTest, PrefixAndBoxFollowTheFlags) {
    session.setProperty("UILevel", "2");
    const struct { uint32_t flags; const char* prefix; UINT style; bool silent; } cases[] = {
        {URE_LOG_ERROR, "ERR: ", 0, false},        {URE_LOG_WARNING, "WARN: ", 0, false},
        {URE_LOG_INFO, "INFO: ", 0, false},        {URE_LOG_PLAIN, "", 0, false},
        {URE_SHOW_ERROR, "ERR: ", 0x10010, false}, {URE_SHOW_ERROR, "ERR: ", 0, true},
        {URE_SHOW_WARNING, "WARN: ", 0x10030, false}, {URE_ASK_YESNO, "INFO: ", 0x10024, false},
        {URE_ASK_RETRYCANCEL, "", 0x10025, false}, {0x04000003, nullptr, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags 0x" << std::hex << c.flags << (c.silent ? " silent" : ""));
        forgetOutput();
        machine.messageBoxAnswers = {IDNO};
        EXPECT_EQ(report(c.flags, 2006, "9", c.silent), c.style ? IDNO : 0);
        EXPECT_EQ(log(), c.prefix ? Lines{logged(c.prefix + std::string("Failed with code 9."))} : Lines{});
        EXPECT_EQ(machine.messageBoxes.size(), c.style ? 1u : 0u);
        EXPECT_THAT(session.installerBoxes, IsEmpty());
        for (const winsim::MessageBoxCall& box : machine.messageBoxes)
            EXPECT_EQ(std::tie(box.style, box.text, box.caption, box.owner),
                      std::make_tuple(c.style, std::string("Failed with code 9."), std::string("Add-ins Setup"),
                                      machine.foregroundWindow));
    }
}

// A report from the installer's script (deferred, rollback, commit) that would show a box
// goes to the installer instead: it shows its own box (buttons, icon; no icon: no box) at
// every level but none, answers a silent installation itself (0), and keeps the message in
// its log, in the library's own English (the script has no runtime folder's library).
TEST_F(FrameTest, ScriptReportsGoThroughTheInstaller) {
    using winsim::RunMode;
    const struct { RunMode mode; const char* uiLevel; uint32_t flags; INSTALLMESSAGE kind; UINT buttons, icon;
                   const char* prefix; } cases[] = {
        {RunMode::Scheduled, "5", URE_SHOW_ERROR, INSTALLMESSAGE_ERROR, MB_OK, MB_ICONERROR, "Error: "},
        {RunMode::Scheduled, "2", URE_SHOW_ERROR, INSTALLMESSAGE_ERROR, 0, 0, "Error: "},
        {RunMode::Rollback, "5", URE_SHOW_WARNING, INSTALLMESSAGE_WARNING, MB_OK, MB_ICONWARNING, "Warning: "},
        {RunMode::Commit, "5", URE_ASK_YESNO, INSTALLMESSAGE_USER, MB_YESNO, MB_ICONQUESTION, "Information: "},
        {RunMode::Commit, "5", URE_ASK_ABORTRETRYIGNORE, INSTALLMESSAGE_USER, MB_ABORTRETRYIGNORE, MB_ICONQUESTION,
         ""}};
    const std::string text = "An installation step failed with result code 9. Check the preceding lines of this log "
                             "for the cause, correct it and run the installation again.";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int(c.mode) << ", UILevel " << c.uiLevel);
        forgetOutput();
        session.setProperty("UILevel", c.uiLevel);
        session.setRunMode(c.mode);
        session.installerBoxAnswers = {IDNO};
        EXPECT_EQ(report(c.flags, 2006, "9"), c.icon ? IDNO : 0);
        EXPECT_THAT(machine.messageBoxes, IsEmpty());
        ASSERT_EQ(session.log().size(), 2u);
        EXPECT_EQ(session.log()[0].line, logged(c.prefix + text));
        EXPECT_EQ(std::tie(session.log()[1].type, session.log()[1].line), std::tie(c.kind, text));
        ASSERT_EQ(session.installerBoxes.size(), c.icon ? 1u : 0u);
        for (const winsim::InstallerBox& box : session.installerBoxes)
            EXPECT_EQ(std::tie(box.kind, box.text, box.buttons, box.icon), std::tie(c.kind, text, c.buttons, c.icon));
    }
}

}  // namespace

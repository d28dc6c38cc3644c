// AddSummaryCA end to end: the response file written afresh, the summary rendered as
// RTF by the rich-edit control, and one temporary `setting` control in the Summary
// dialog; and the RTF conversion it stands on.
#include "fixture.h"

#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "response/rtf_conversion.h"

#include <gmock/gmock.h>

#include <memory>
#include <string>

using fa9test::logged;
using fa9test::SessionTest;
using winsim::Cell;

namespace {

const char* const kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp";
const char* const kSystemRichEdit = "C:\\Windows\\System32\\riched20.dll";
using M = winsim::Machine;
using S = winsim::Session;

// The text an RTF document shows: \par ends a line, \{ \} \\ stand for themselves, other
// control words and the font table show nothing. "(not RTF)" for anything but one
// balanced {\rtf1 group.
std::string rtfToText(const std::string& rtf) {
    std::string out;
    int depth = 0, fontTable = 0;  // the font table's depth while inside it
    for (size_t i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i], next = i + 1 < rtf.size() ? rtf[i + 1] : '\0';
        if (c == '{') {
            if (++depth && rtf.compare(i + 1, 8, "\\fonttbl") == 0) fontTable = depth;
        } else if (c == '}') {
            if (depth-- == fontTable) fontTable = 0;
            if (depth <= 0 && rtf.find_first_not_of("\r\n", i + 1) != std::string::npos) return "(not RTF)";
        } else if (c == '\\' && (next == '\\' || next == '{' || next == '}')) {
            if (!fontTable) out += next;
            ++i;
        } else if (c == '\\') {  // a control word, its number and the blank ending it
            const size_t end = std::min(rtf.size(), rtf.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-", i + 1));
            if (!fontTable && rtf.compare(i + 1, end - i - 1, "par") == 0) out += "\r\n";
            i = end < rtf.size() && rtf[end] == ' ' ? end : end - 1;
        } else if (c != '\r' && c != '\n' && !fontTable) {
            out += c;
        }
    }
    return depth == 0 && rtf.rfind("{\\rtf1", 0) == 0 ? out : "(not RTF)";
}

class SummaryActionTest : public SessionTest {
protected:
    SummaryActionTest() {
        installRuntime(fa9test::stringLibrary("en_US"));
        // Any DLL the loader accepts stands in for the system's rich-edit library.
        machine.copyFileIn(fa9test::stringLibrary("en_US"), kSystemRichEdit);
        session.setProperty("UILevel", "5");
        session.setProperty("TempFolder", std::string(kTemp) + "\\");
        session.setProperty("PROP_RSP_PROD", "WOLT_TOOLS");
        session.setProperty("ProductName", "FA9 Tools");
        session.setProperty("INSTALLDIR", "C:\\FA9\\");
        auto& db = session.database();
        db.createTable("Feature", {"Feature", "Feature_Parent", "Title", "Description", "Display", "Level",
                                   "Directory_", "Attributes"});
        db.insertRow("Feature", {Cell::str("AddIns"), Cell::null(), Cell::str("Add-ins {and} tools"), Cell::null(),
                                 Cell::integer(1), Cell::integer(1), Cell::str("INSTALLDIR"), Cell::integer(0)});
        session.setFeatureState("AddIns", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
        db.createTable("Control", {"Dialog_", "Control", "Type", "X", "Y", "Width", "Height", "Attributes",
                                   "Property", "Text", "Control_Next", "Help"});
        db.insertRow("Control", {Cell::str("Summary"), Cell::str("Back"), Cell::str("PushButton"), Cell::integer(180),
                                 Cell::integer(243), Cell::integer(56), Cell::integer(17), Cell::integer(3),
                                 Cell::null(), Cell::str("< &Back"), Cell::str("Next"), Cell::null()});
    }

    // The Control rows named `setting`: [0] dialog, [2] type, [3..7] X, Y, width, height,
    // attributes, [8] property, [9] text.
    std::vector<std::vector<Cell>> settingControls() {
        std::vector<std::vector<Cell>> found;
        for (const auto& row : session.database().rows("Control"))
            if (row[1].text == "setting") found.push_back(row);
        return found;
    }

    std::string summaryLine(const std::string& label, const std::string& value) {
        return label + std::string(40 - label.size(), ' ') + "   " + value;
    }
};

TEST_F(SummaryActionTest, InsertsTheSummaryAsRtfIntoTheSummaryDialog) {
    ASSERT_EQ(0u, run(AddSummaryCA));
    const auto controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    const std::vector<Cell>& c = controls[0];
    EXPECT_EQ("Summary", c[0].text);
    EXPECT_EQ("ScrollableText", c[2].text);
    // The dialog's text area; visible, enabled and sunken.
    EXPECT_EQ((std::vector<int>{47, 120, 394, 181, 7}),
              (std::vector<int>{c[3].number, c[4].number, c[5].number, c[6].number, c[7].number}));
    EXPECT_EQ(Cell::Kind::Null, c[8].kind);
    const std::string blank(40, ' ');
    EXPECT_EQ(blank + "\r\n" + summaryLine("Product", "FA9 Tools") + "\r\n" + "Features to be installed" +
                  std::string(16, ' ') + "\r\n" + summaryLine("    Add-ins {and} tools", "") + "\r\n" + blank +
                  "\r\n" + summaryLine("Installation directory", "C:\\FA9") + "\r\n\r\n",
              rtfToText(c[9].text));
    // The response file it was built from, written for this run.
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
    EXPECT_TRUE(machine.openWindowClasses().empty()) << "the rich-edit window is gone";
    EXPECT_THAT(log(), testing::IsEmpty());
}

TEST_F(SummaryActionTest, RunningTwiceLeavesOneControlAndOneGeneratedFile) {
    ASSERT_EQ(0u, run(AddSummaryCA));
    session.setProperty("ProductName", "FA9 Tools 2");
    ASSERT_EQ(0u, run(AddSummaryCA));
    const auto controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    EXPECT_THAT(rtfToText(controls[0][9].text), testing::HasSubstr(summaryLine("Product", "FA9 Tools 2")));
    EXPECT_EQ(2u, session.database().rows("Control").size());
    // The first run's file was deleted, so the second took the same name again.
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
    EXPECT_FALSE(machine.fileExists(std::string(kTemp) + "\\FA9RL001.rsp"));
}

TEST_F(SummaryActionTest, AFileTheUserNamedIsNotDeleted) {
    const std::string mine = "C:\\answers\\FA9RL000.rsp";
    machine.writeFile(mine, "PROD=WOLT_TOOLS\n");
    session.setProperty("RSP_FILE_PATH", mine);
    ASSERT_EQ(0u, run(AddSummaryCA));
    EXPECT_TRUE(machine.fileExists(mine));
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
}

struct LanguageCase {
    const char* productLanguage;
    int attributes;
    bool rightToLeftRtf;
};

class SummaryLanguageTest : public SummaryActionTest, public testing::WithParamInterface<LanguageCase> {};

TEST_P(SummaryLanguageTest, ArabicTurnsTheControlAndTheTextRightToLeft) {
    session.setProperty("ProductLanguage", GetParam().productLanguage);
    ASSERT_EQ(0u, run(AddSummaryCA));
    const auto controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    EXPECT_EQ(GetParam().attributes, controls[0][7].number);
    EXPECT_EQ(GetParam().rightToLeftRtf, controls[0][9].text.find("\\rtlpar") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, SummaryLanguageTest,
                         testing::Values(LanguageCase{"1025", 231, true},   // Arabic: ar_AA
                                         LanguageCase{"1033", 7, false},    // English
                                         LanguageCase{"1037", 7, false}));  // Hebrew: not among them

// Each fault: the action's result, the log line that names it, and how many `setting`
// controls (with or without text) are left in the dialog.
struct SummaryFault {
    const char* name;
    void (*arrange)(M&, S&);
    UINT rc;
    std::string line;
    size_t controls;
    bool withText;
    size_t boxes;  // shown errors; an installer operation's failure is logged only
};
void PrintTo(const SummaryFault& c, std::ostream* os) { *os << c.name; }

class SummaryFaults : public SummaryActionTest, public testing::WithParamInterface<SummaryFault> {};

TEST_P(SummaryFaults, AreLoggedAndDecideTheResult) {
    const SummaryFault& c = GetParam();
    c.arrange(machine, session);
    EXPECT_EQ(c.rc, run(AddSummaryCA));
    EXPECT_THAT(log(), testing::Contains(logged(c.line)));
    const auto controls = settingControls();
    ASSERT_EQ(c.controls, controls.size());
    if (!controls.empty()) {
        EXPECT_EQ(c.withText, !controls[0][9].text.empty());
    }
    EXPECT_EQ(c.boxes, machine.messageBoxes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SummaryFaults,
    testing::Values(
        SummaryFault{"without_rich_edit_the_control_has_no_text",
                     [](M& m, S&) { m.writeFile(kSystemRichEdit, "not a program"); }, 0u,
                     "Error: The library riched20.dll could not be loaded (system error code 193), so the "
                     "installation summary cannot be shown.",
                     1, false, 2},
        // The deletion fails, and the row it should have removed makes the insertion fail on its key.
        SummaryFault{"a_failed_insertion_is_the_result",
                     [](M&, S& s) {
                         s.database().failExecute("Control", ERROR_FUNCTION_FAILED);
                         s.database().insertRow("Control", {Cell::str("Summary"), Cell::str("setting")});
                     },
                     static_cast<UINT>(ERROR_FUNCTION_FAILED), "Error: An installer operation failed: iAddControl:1627.",
                     1, false, 1},
        SummaryFault{"without_database_the_control_steps_succeed", [](M&, S& s) { s.database().available = false; }, 0u,
                     "Error: The installation database could not be accessed. Please contact your technical service "
                     "representative.",
                     0, false, 0},
        SummaryFault{"a_response_file_that_cannot_be_set_up_stops_the_action",
                     [](M&, S& s) { s.failGetProperty("TempFolder", ERROR_MORE_DATA); }, 1603u,
                     "Error: The response file could not be set up. Check the preceding lines of this log, correct "
                     "the response file or the RSP_FILE_PATH property, and run the installation again.",
                     0, false, 2},
        // The user's file stays named, so the summary is built from it.
        SummaryFault{"a_failed_reset_of_the_path_goes_on",
                     [](M& m, S& s) {
                         m.writeFile("C:\\answers\\mine.rsp", "PROD=WOLT_TOOLS\n");
                         s.setProperty("RSP_FILE_PATH", "C:\\answers\\mine.rsp");
                         s.failSetProperty("RSP_FILE_PATH", 1605);
                     },
                     0u, "Error: An installer operation failed: iMsiSetProperty:1605.", 1, true, 0}),
    [](const testing::TestParamInfo<SummaryFault>& i) { return std::string(i.param.name); });

// The control hands a long document over in many pieces: the buffer grows and keeps
// every piece, in order.
TEST_F(SummaryActionTest, ALongTextComesBackWholeFromTheRtfConversion) {
    const std::string text = std::string(30000, 'a') + "{" + std::string(30000, '\\');
    CustomActionContext context(session.handle());
    char* rtf = nullptr;
    ASSERT_EQ(0u, liteConvertTextToRtf(text.c_str(), &rtf, false));
    std::unique_ptr<char[]> owned(rtf);
    EXPECT_EQ(text + "\r\n", rtfToText(rtf));
}

}  // namespace

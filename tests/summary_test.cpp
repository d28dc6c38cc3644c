// AddSummaryCA: the response file written afresh, the summary rendered as RTF by the
// rich-edit control into one temporary `setting` control of the Summary dialog, and what
// each fault does to the result and the dialog.
#include "fixture.h"
#include "actions/exports.h"

#include <gmock/gmock.h>

#include <tuple>

using ::testing::HasSubstr;
using namespace fa9test;
using winsim::Cell;
using winsim::Machine;
using winsim::Session;

namespace {

const char* const kSystemRichEdit = "C:\\Windows\\System32\\riched20.dll";

class SummaryAction : public SessionTest {
protected:
    SummaryAction() {
        installRuntime(stringLibrary("en_US"));
        machine.copyFileIn(stringLibrary("en_US"), kSystemRichEdit);  // any DLL the loader accepts
        for (const auto& [name, value] : {std::pair{"UILevel", "5"}, {"TempFolder", kTempFolder.c_str()},
                                          {"PROP_RSP_PROD", "WOLT_TOOLS"}, {"ProductName", "FA9 Tools"}})
            session.setProperty(name, value);
        auto& db = session.database();
        addFeature(session, "AddIns", "", "Add-ins {and} tools", 1);
        db.createTable("Control", {"Dialog_", "Control", "Type", "X", "Y", "Width", "Height", "Attributes",
                                   "Property", "Text", "Control_Next", "Help"});
        db.insertRow("Control", {Cell::str("Summary"), Cell::str("Back"), Cell::str("PushButton")});
    }
    // The Control rows named `setting`: [0] dialog, [2] type, [7] attributes, [9] text.
    std::vector<std::vector<Cell>> settingControls() {
        std::vector<std::vector<Cell>> found;
        for (const auto& row : session.database().rows("Control"))
            if (row[1].text == "setting") found.push_back(row);
        return found;
    }
};

// Run again in the same dialog, the action replaces its control and its written file (so
// the next run takes the same name). Only Arabic (ar_AA) turns the control and the text
// right to left; Hebrew is not among them.
TEST_F(SummaryAction, PutsTheSummaryAsRtfIntoOneControlAndOnlyArabicRightToLeft) {
    for (const auto& [language, product, rightToLeft] :
         {std::tuple{"1037", "FA9 Tools 1", false}, {"1025", "FA9 Tools 2", true}}) {
        SCOPED_TRACE(language);
        session.setProperty("ProductLanguage", language);
        session.setProperty("ProductName", product);
        ASSERT_EQ(0u, run(AddSummaryCA));
        const auto controls = settingControls();
        ASSERT_EQ(1u, controls.size());
        EXPECT_EQ("Summary", controls[0][0].text);
        EXPECT_EQ("ScrollableText", controls[0][2].text);
        EXPECT_EQ(rightToLeft ? 231 : 7, controls[0][7].number);  // visible, enabled, sunken (+ right to left)
        const std::string& rtf = controls[0][9].text;
        EXPECT_EQ(rightToLeft, rtf.find("\\rtlpar") != std::string::npos);
        EXPECT_THAT(rtf, ::testing::AllOf(HasSubstr(std::string("Product") + std::string(33, ' ') + "   " + product),
                                          HasSubstr("Add-ins \\{and\\} tools")));
        EXPECT_EQ(kTempFolder + "FA9RL000.rsp", session.property("RSP_FILE_PATH"));  // written for this run
    }
    EXPECT_EQ(2u, session.database().rows("Control").size());
    EXPECT_TRUE(machine.openWindowClasses().empty()) << "the rich-edit window is gone";
    EXPECT_THAT(log(), ::testing::IsEmpty());
}

// Each fault: the result, the log line naming it, the `setting` controls left (with or
// without text) and the boxes shown (an installer operation's failure is logged only).
struct SummaryFault {
    const char* name;
    void (*arrange)(Machine&, Session&);
    UINT rc;
    const char* logged;
    size_t controls;
    bool withText;
    size_t boxes;
};
void PrintTo(const SummaryFault& c, std::ostream* os) { *os << c.name; }
class SummaryFaults : public SummaryAction, public ::testing::WithParamInterface<SummaryFault> {};

TEST_P(SummaryFaults, AreLoggedAndDecideTheResult) {
    const SummaryFault& c = GetParam();
    c.arrange(machine, session);
    EXPECT_EQ(c.rc, run(AddSummaryCA));
    EXPECT_THAT(log(), ::testing::Contains(HasSubstr(c.logged)));
    const auto controls = settingControls();
    ASSERT_EQ(c.controls, controls.size());
    EXPECT_TRUE(controls.empty() || c.withText == !controls[0][9].text.empty());
    EXPECT_EQ(c.boxes, machine.messageBoxes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SummaryFaults,
    ::testing::Values(
        SummaryFault{"without_rich_edit_the_control_has_no_text",
                     [](Machine& m, Session&) { m.writeFile(kSystemRichEdit, "not a program"); }, 0u,
                     "riched20.dll could not be loaded", 1, false, 2},
        // The deletion fails, and the row it should have removed makes the insertion fail on its key.
        SummaryFault{"a_failed_insertion_is_the_result",
                     [](Machine&, Session& s) {
                         s.database().failExecute("Control", ERROR_FUNCTION_FAILED);
                         s.database().insertRow("Control", {Cell::str("Summary"), Cell::str("setting")});
                     },
                     static_cast<UINT>(ERROR_FUNCTION_FAILED), "iAddControl:1627", 1, false, 1},
        SummaryFault{"without_database_the_control_steps_succeed",
                     [](Machine&, Session& s) { s.database().available = false; }, 0u, "database could not be accessed",
                     0, false, 0},
        SummaryFault{"a_response_file_that_cannot_be_set_up_stops_the_action",
                     [](Machine&, Session& s) { s.failGetProperty("TempFolder", ERROR_MORE_DATA); }, 1603u,
                     "The response file could not be set up", 0, false, 2},
        // The user's file stays named, so the summary is built from it: named like a written
        // file, but not in TempFolder, it is the user's and is not deleted.
        SummaryFault{"a_failed_reset_of_the_path_goes_on",
                     [](Machine& m, Session& s) {
                         m.writeFile("C:\\answers\\FA9RL000.rsp", "PROD=WOLT_TOOLS\n");
                         s.setProperty("RSP_FILE_PATH", "C:\\answers\\FA9RL000.rsp");
                         s.failSetProperty("RSP_FILE_PATH", 1605);
                     },
                     0u, "iMsiSetProperty:1605", 1, true, 0}),
    [](const ::testing::TestParamInfo<SummaryFault>& i) { return std::string(i.param.name); });

}  // namespace

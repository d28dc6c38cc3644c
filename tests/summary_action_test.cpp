// What the actions put into the dialogs. AddSummaryCA end to end: the response file
// written afresh, the summary rendered as RTF by the rich-edit control, and one temporary
// `setting` control in the Summary dialog. The welcome dialog's title and the template
// component: what each publishes, and that neither ever stops the installation. The
// administrator and Visual Studio prerequisites, whose box carries that title.
#include "fixture.h"

#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "response/rtf_conversion.h"

#include <gmock/gmock.h>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;
using winsim::Cell;

namespace {

const char* const kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp";
const char* const kSystemRichEdit = "C:\\Windows\\System32\\riched20.dll";
using M = winsim::Machine;
using S = winsim::Session;

// The text of the rich-edit control's RTF: after the header's font size, each \par a line
// end and \\, \{ and \} their character; "(not RTF)" unless one whole {\rtf1 group.
std::string rtfToText(const std::string& rtf) {
    size_t i = rtf.find("\\fs17 ");
    if (rtf.rfind("{\\rtf1", 0) != 0 || i == std::string::npos) return "(not RTF)";
    std::string out;
    for (i += 6; i < rtf.size() && rtf[i] != '}'; ++i) {
        if (rtf.compare(i, 6, "\\par\r\n") == 0) {
            out += "\r\n";
            i += 5;
        } else {
            out += rtf[i] == '\\' ? rtf[++i] : rtf[i];
        }
    }
    return rtf.compare(i, std::string::npos, "}\r\n") == 0 ? out : "(not RTF)";
}

class SummaryActionTest : public SessionTest {
protected:
    SummaryActionTest() {
        installRuntime(stringLibrary("en_US"));
        // Any DLL the loader accepts stands in for the system's rich-edit library.
        machine.copyFileIn(stringLibrary("en_US"), kSystemRichEdit);
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

// Run again in the same dialog, the action replaces its control and its written file. Only
// Arabic (ar_AA) turns the control and the text right to left; Hebrew is not among them.
TEST_F(SummaryActionTest, RunningAgainReplacesTheControlAndOnlyArabicIsRightToLeft) {
    for (const auto& [language, product, rightToLeft] :
         {std::tuple{"1037", "FA9 Tools 2", false}, std::tuple{"1025", "FA9 Tools 3", true}}) {
        SCOPED_TRACE(language);
        session.setProperty("ProductLanguage", language);
        session.setProperty("ProductName", product);
        ASSERT_EQ(0u, run(AddSummaryCA));
        const auto controls = settingControls();
        ASSERT_EQ(1u, controls.size());
        EXPECT_EQ(rightToLeft ? 231 : 7, controls[0][7].number);
        EXPECT_EQ(rightToLeft, controls[0][9].text.find("\\rtlpar") != std::string::npos);
        EXPECT_THAT(rtfToText(controls[0][9].text), testing::HasSubstr(summaryLine("Product", product)));
    }
    EXPECT_EQ(2u, session.database().rows("Control").size());
    // Each run's file was deleted, so the next took the same name again.
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
    EXPECT_FALSE(machine.fileExists(std::string(kTemp) + "\\FA9RL001.rsp"));
}

// Each fault: the action's result, the log line that names it (up to where it varies), and
// how many `setting` controls (with or without text) are left in the dialog.
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
    EXPECT_THAT(log(), testing::Contains(testing::StartsWith("1: " + c.line)));
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
                     "Error: The library riched20.dll could not be loaded (system error code 193)", 1, false, 2},
        // The deletion fails, and the row it should have removed makes the insertion fail on its key.
        SummaryFault{"a_failed_insertion_is_the_result",
                     [](M&, S& s) {
                         s.database().failExecute("Control", ERROR_FUNCTION_FAILED);
                         s.database().insertRow("Control", {Cell::str("Summary"), Cell::str("setting")});
                     },
                     static_cast<UINT>(ERROR_FUNCTION_FAILED), "Error: An installer operation failed: iAddControl:1627.",
                     1, false, 1},
        SummaryFault{"without_database_the_control_steps_succeed", [](M&, S& s) { s.database().available = false; }, 0u,
                     "Error: The installation database could not be accessed.", 0, false, 0},
        SummaryFault{"a_response_file_that_cannot_be_set_up_stops_the_action",
                     [](M&, S& s) { s.failGetProperty("TempFolder", ERROR_MORE_DATA); }, 1603u,
                     "Error: The response file could not be set up.", 0, false, 2},
        // The user's file stays named, so the summary is built from it: named like a written
        // file, but not in TempFolder, it is the user's and is not deleted.
        SummaryFault{"a_failed_reset_of_the_path_goes_on",
                     [](M& m, S& s) {
                         m.writeFile("C:\\answers\\FA9RL000.rsp", "PROD=WOLT_TOOLS\n");
                         s.setProperty("RSP_FILE_PATH", "C:\\answers\\FA9RL000.rsp");
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

// ---------------------------------------------------------------- the welcome dialog's title

class DialogTitleTest : public SessionTest {
protected:
    DialogTitleTest() {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("ProductName", "Add-ins for Visual Studio");
        session.database().createTable("Dialog", {"Dialog", "HCentering", "VCentering", "Width", "Height",
                                                  "Attributes", "Title", "Control_First", "Control_Default",
                                                  "Control_Cancel"});
        addDialog("Summary", "Summary of [ProductName]");
    }
    void addDialog(const std::string& name, const std::string& title) {
        session.database().insertRow("Dialog", {Cell::str(name), Cell::integer(50), Cell::integer(50),
                                                Cell::integer(370), Cell::integer(270), Cell::integer(3),
                                                title.empty() ? Cell::null() : Cell::str(title)});
    }
};

// The welcome title is published expanded and cut at its buffer; without one to publish the
// property keeps its value, and only the log says why.
TEST_F(DialogTitleTest, PublishesTheExpandedWelcomeTitleOrLeavesThePropertyAlone) {
    session.setProperty("GENERIC_DLG_TITLE", "Before");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // no welcome row
    addDialog("InstallWelcome_noJava", "");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // an empty title
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Before");
    auto& title = session.database().rows("Dialog").back()[6];
    title = Cell::str("[ProductName] Setup");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Add-ins for Visual Studio Setup");
    title = Cell::str(std::string(300, 'T'));
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), std::string(254, 'T'));
    EXPECT_THAT(log(), IsEmpty());
    session.failSetProperty("GENERIC_DLG_TITLE", ERROR_FUNCTION_FAILED);
    title = Cell::str("[ProductName]");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // the title cannot be set
    session.database().failExecute("Dialog", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // the query does not run
    session.database().available = false;
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), std::string(254, 'T'));
    EXPECT_THAT(log(), ElementsAre(logged("iMsiSetProperty failed with return code '1627'."),
                                   logged("Error: The installation database could not be accessed. Please contact "
                                          "your technical service representative.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

// ---------------------------------------------------------------- template component

const char* kProduct = "{FA997000-0000-4C3A-0731-000000000001}";
const char* kFirst = "{A47ECA31-D07F-4023-BEDB-EBDC0FD4FD03}";
const char* kSecond = "{8C2BB15E-AF8B-4E9C-9D6B-C73E34BC4691}";
const char* kIde = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE\\";

// The template to install by where the two template components stand; the property is left
// alone when the IDE folder or the product code cannot be read.
TEST_F(DialogTitleTest, TemplateComponentIsChosenByWhereTheComponentsStand) {
    const std::string ideUpper = "C:\\PROGRAM FILES\\MICROSOFT VISUAL STUDIO 8\\COMMON7\\IDE\\";
    const std::string ideNoSlash = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE";
    const std::string longPath = "C:\\" + std::string(270, 'p');
    const INSTALLSTATE kLocal = INSTALLSTATE_LOCAL, kSource = INSTALLSTATE_SOURCE, kAbsent = INSTALLSTATE_ABSENT,
                       kNone = INSTALLSTATE_UNKNOWN;  // the component was never installed
    const struct {
        const char* name;
        INSTALLSTATE first;
        const char* firstPath;
        INSTALLSTATE second;
        const char* secondPath;
        const char* ide;
        const char* expected;
    } cases[] = {
        {"first_at_ide", kLocal, kIde, kNone, "", kIde, "1"},
        {"first_at_ide_other_case", kLocal, ideUpper.c_str(), kLocal, kIde, kIde, "1"},
        {"first_elsewhere", kLocal, "D:\\Other\\", kLocal, kIde, kIde, "2"},
        {"first_trailing_backslash_differs", kLocal, ideNoSlash.c_str(), kNone, "", kIde, "2"},
        {"first_from_source_second_at_ide", kSource, kIde, kLocal, kIde, kIde, "2"},
        {"first_absent_second_elsewhere", kAbsent, "", kLocal, "D:\\Other\\", kIde, "1"},
        {"first_path_too_long_second_at_ide", kLocal, longPath.c_str(), kLocal, kIde, kIde, "2"},
        {"first_installation", kNone, "", kNone, "", kIde, "1"},
        {"empty_ide_neither", kAbsent, "", kAbsent, "", "", "1"},
    };
    session.setProperty("ProductCode", kProduct);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session.removeProperty("TEMPLATE_COMPONENT");
        session.setProperty("VS80_ENVDIR", c.ide);
        machine.setComponent(kProduct, kFirst, c.first, c.firstPath);
        machine.setComponent(kProduct, kSecond, c.second, c.secondPath);
        EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
        EXPECT_EQ(session.property("TEMPLATE_COMPONENT"), c.expected);
    }
    session.removeProperty("TEMPLATE_COMPONENT");
    session.failGetProperty("VS80_ENVDIR", 1615);
    EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
    session.failGetProperty("VS80_ENVDIR", 0);
    session.failGetProperty("ProductCode", 1615);
    EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
    EXPECT_FALSE(session.hasProperty("TEMPLATE_COMPONENT"));
    EXPECT_THAT(log(), ElementsAre(logged("iMsiGetProperty failed with return code '1615'."),
                                   logged("Error: The installer property VS80_ENVDIR could not be read."),
                                   logged("Error: The installer property ProductCode could not be read.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

// ---------------------------------------------------------------- prerequisites

struct PrereqCase {
    const char* name;
    const char* adminUser;  // null: not set
    const char* privileged;
    const char* vs2005;
    const char* vs2008;
    UINT result;
    const char* allUsers;  // expected ALLUSERS, "" when untouched
    const char* refusal;   // the error logged and shown in a box, without the "1: " framing; null: none
};
void PrintTo(const PrereqCase& c, std::ostream* os) { *os << c.name; }

const char* kNoVisualStudio =
    "Error: Add-ins for Visual Studio requires Microsoft Visual Studio 2005 or Microsoft Visual Studio 2008, and "
    "neither was found on this computer. Install one of them, then run the installation of Add-ins for Visual "
    "Studio again.";

// The dialog title's fixture: the product's name and strings are what the checks report with.
class PrerequisiteTest : public DialogTitleTest {};
class Prerequisites : public PrerequisiteTest, public ::testing::WithParamInterface<PrereqCase> {};

TEST_P(Prerequisites, DecideFromRightsAndVisualStudio) {
    const PrereqCase& c = GetParam();
    session.setProperty("GENERIC_DLG_TITLE", "Add-ins for Visual Studio Setup");
    if (c.adminUser) session.setProperty("AdminUser", c.adminUser);
    if (c.privileged) session.setProperty("Privileged", c.privileged);
    if (c.vs2005) session.setProperty("p_vsnet2005Installed", c.vs2005);
    if (c.vs2008) session.setProperty("p_vsnet2008Installed", c.vs2008);
    EXPECT_EQ(run(CheckWOLTPrereqCA), c.result);
    EXPECT_EQ(session.property("ALLUSERS"), c.allUsers);
    EXPECT_EQ(log(), c.refusal ? std::vector<std::string>{logged(c.refusal)} : std::vector<std::string>{});
    ASSERT_EQ(machine.messageBoxes.size(), c.refusal ? 1u : 0u);
    for (const auto& box : machine.messageBoxes) EXPECT_EQ(box.caption, "Add-ins for Visual Studio Setup");
}

INSTANTIATE_TEST_SUITE_P(
    Prereq, Prerequisites,
    ::testing::Values(
        PrereqCase{"admin_with_2005", "1", nullptr, "YES", nullptr, 0, "", nullptr},
        PrereqCase{"admin_with_2008_only", "1", nullptr, "NO", "YES", 0, "", nullptr},
        PrereqCase{"standard_user_privileged", nullptr, "1", "YES", nullptr, 0, "1", nullptr},
        PrereqCase{"standard_user_privileged_no_vs", nullptr, "1", "NO", nullptr, 1603, "1", kNoVisualStudio},
        PrereqCase{"standard_user_not_privileged", nullptr, nullptr, "YES", "YES", 1603, "",
                   "Error: You must be a member of the Administrators group to install Add-ins for Visual Studio. "
                   "Log on as an administrator, or start the installation with elevated privileges, and try again."},
        PrereqCase{"2005_no_and_2008_unset", "1", nullptr, "NO", nullptr, 1603, "", kNoVisualStudio},
        PrereqCase{"lower_case_yes_does_not_count", "1", nullptr, nullptr, "yes", 1603, "", kNoVisualStudio}));

TEST_F(PrerequisiteTest, FailedDetectionReadsAreLoggedAndTheLaterOneDecides) {
    session.setProperty("AdminUser", "1");
    session.setProperty("p_vsnet2005Installed", "YES");
    session.failGetProperty("p_vsnet2008Installed", 1615);
    EXPECT_EQ(run(CheckWOLTPrereqCA), 1615u);
    EXPECT_THAT(log(), ElementsAre(logged("Error: The installer property p_vsnet2008Installed could not be read.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

}  // namespace

// The dialog title and the template component: what each publishes, and that neither
// ever stops the installation. Then the administrator and Visual Studio prerequisites,
// whose box carries that title.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;
using winsim::Cell;

namespace {

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

TEST_F(DialogTitleTest, PublishesTheExpandedWelcomeTitleCutAtItsBuffer) {
    addDialog("InstallWelcome_noJava", "[ProductName] Setup [%SystemRoot] [Missing]!");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Add-ins for Visual Studio Setup C:\\Windows !");
    session.database().rows("Dialog").back()[6] = Cell::str(std::string(300, 'T'));
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), std::string(254, 'T'));
    EXPECT_THAT(log(), IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

// Without a title to publish the property keeps its value, and only the log says why.
TEST_F(DialogTitleTest, WithoutATitleThePropertyStaysAndOnlyTheLogSays) {
    session.setProperty("GENERIC_DLG_TITLE", "Before");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // no welcome row
    addDialog("InstallWelcome_noJava", "");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // an empty title
    EXPECT_THAT(log(), IsEmpty());
    session.database().rows("Dialog").back()[6] = Cell::str("[ProductName]");
    session.failSetProperty("GENERIC_DLG_TITLE", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // the title cannot be set
    session.database().failExecute("Dialog", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // the query does not run
    session.database().available = false;
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Before");
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

struct TemplateCase {
    const char* name;
    INSTALLSTATE first;
    const char* firstPath;
    INSTALLSTATE second;
    const char* secondPath;
    const char* ide;
    const char* expected;
};
void PrintTo(const TemplateCase& c, std::ostream* os) { *os << c.name; }

class TemplateComponent : public SessionTest, public ::testing::WithParamInterface<TemplateCase> {};

TEST_P(TemplateComponent, ChoosesByWhereTheComponentsStand) {
    const TemplateCase& c = GetParam();
    session.setProperty("ProductCode", kProduct);
    session.setProperty("VS80_ENVDIR", c.ide);
    if (c.first != INSTALLSTATE_UNKNOWN) machine.setComponent(kProduct, kFirst, c.first, c.firstPath);
    if (c.second != INSTALLSTATE_UNKNOWN) machine.setComponent(kProduct, kSecond, c.second, c.secondPath);
    EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
    EXPECT_EQ(session.property("TEMPLATE_COMPONENT"), c.expected);
    EXPECT_THAT(log(), IsEmpty());
}

const std::string kIdeUpper = "C:\\PROGRAM FILES\\MICROSOFT VISUAL STUDIO 8\\COMMON7\\IDE\\";
const std::string kIdeNoSlash = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE";
const std::string kLong = "C:\\" + std::string(270, 'p');

INSTANTIATE_TEST_SUITE_P(
    Template, TemplateComponent,
    ::testing::Values(
        TemplateCase{"first_at_ide", INSTALLSTATE_LOCAL, kIde, INSTALLSTATE_UNKNOWN, "", kIde, "1"},
        TemplateCase{"first_at_ide_other_case", INSTALLSTATE_LOCAL, kIdeUpper.c_str(), INSTALLSTATE_LOCAL, kIde, kIde,
                     "1"},
        TemplateCase{"first_elsewhere", INSTALLSTATE_LOCAL, "D:\\Other\\", INSTALLSTATE_LOCAL, kIde, kIde, "2"},
        TemplateCase{"first_trailing_backslash_differs", INSTALLSTATE_LOCAL, kIdeNoSlash.c_str(),
                     INSTALLSTATE_UNKNOWN, "", kIde, "2"},
        TemplateCase{"first_from_source_second_at_ide", INSTALLSTATE_SOURCE, kIde, INSTALLSTATE_LOCAL, kIde, kIde,
                     "2"},
        TemplateCase{"first_absent_second_elsewhere", INSTALLSTATE_ABSENT, "", INSTALLSTATE_LOCAL, "D:\\Other\\", kIde,
                     "1"},
        TemplateCase{"first_path_too_long_second_at_ide", INSTALLSTATE_LOCAL, kLong.c_str(), INSTALLSTATE_LOCAL, kIde,
                     kIde, "2"},
        TemplateCase{"first_installation", INSTALLSTATE_UNKNOWN, "", INSTALLSTATE_UNKNOWN, "", kIde, "1"},
        TemplateCase{"empty_ide_first_local", INSTALLSTATE_LOCAL, kIde, INSTALLSTATE_UNKNOWN, "", "", "2"},
        TemplateCase{"empty_ide_neither", INSTALLSTATE_ABSENT, "", INSTALLSTATE_ABSENT, "", "", "1"}));

TEST_F(SessionTest, TemplateComponentReadFailuresAreReportedAndLeaveThePropertyAlone) {
    installRuntime(stringLibrary("en_US"));
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

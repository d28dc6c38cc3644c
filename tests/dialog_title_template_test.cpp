// The dialog title and the template component: what each publishes, and that neither
// ever stops the installation.
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

TEST_F(DialogTitleTest, PublishesTheExpandedWelcomeTitle) {
    addDialog("InstallWelcome_noJava", "[ProductName] Setup [%SystemRoot] [Missing]!");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Add-ins for Visual Studio Setup C:\\Windows !");
    EXPECT_THAT(log(), IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

TEST_F(DialogTitleTest, LongTitleIsCutAtItsBuffer) {
    addDialog("InstallWelcome_noJava", std::string(300, 'T'));
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), std::string(254, 'T'));
}

TEST_F(DialogTitleTest, NoTitleLeavesThePropertyAlone) {
    session.setProperty("GENERIC_DLG_TITLE", "Before");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // no welcome row
    addDialog("InstallWelcome_noJava", "");
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // an empty title
    session.database().failExecute("Dialog", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);  // the query does not run
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), "Before");
    EXPECT_THAT(log(), IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

TEST_F(DialogTitleTest, MissingDatabaseIsReportedToTheLogOnly) {
    session.database().available = false;
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_THAT(log(), ElementsAre(logged("Error: The installation database could not be accessed. Please contact "
                                          "your technical service representative.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

TEST_F(DialogTitleTest, FailedSetIsLogged) {
    addDialog("InstallWelcome_noJava", "[ProductName]");
    session.failSetProperty("GENERIC_DLG_TITLE", ERROR_FUNCTION_FAILED);
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_THAT(log(), ElementsAre(logged("iMsiSetProperty failed with return code '1627'.")));
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

}  // namespace

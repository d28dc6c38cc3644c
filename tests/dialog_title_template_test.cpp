// The welcome dialog's title and the template component: what each publishes, and that
// neither ever stops the installation.
#include "fixture.h"
#include "actions/exports.h"

#include <gmock/gmock.h>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;
using winsim::Cell;

namespace {

class DialogTitle : public SessionTest {
protected:
    DialogTitle() {
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
TEST_F(DialogTitle, PublishesTheExpandedWelcomeTitleOrLeavesThePropertyAlone) {
    session.setProperty("GENERIC_DLG_TITLE", "Before");
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
    session.database().available = false;
    EXPECT_EQ(run(SetWOLTDialogTitlePropertiesCA), 0u);
    EXPECT_EQ(session.property("GENERIC_DLG_TITLE"), std::string(254, 'T'));
    EXPECT_THAT(log(), ElementsAre(logged("iMsiSetProperty failed with return code '1627'."),
                                   ::testing::HasSubstr("database could not be accessed")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
    EXPECT_EQ(winsim::openMsiHandleCount(), 0u);
}

// The template to install by where the two template components stand; the property is left
// alone when the IDE folder or the product code cannot be read.
TEST_F(DialogTitle, TemplateComponentIsChosenByWhereTheComponentsStand) {
    const char* product = "{FA997000-0000-4C3A-0731-000000000001}";
    const std::string ide = "C:\\Program Files\\Microsoft Visual Studio 8\\Common7\\IDE\\", other = "D:\\Other\\";
    const std::string upper = "C:\\PROGRAM FILES\\MICROSOFT VISUAL STUDIO 8\\COMMON7\\IDE\\";
    const INSTALLSTATE local = INSTALLSTATE_LOCAL, never = INSTALLSTATE_UNKNOWN;
    const struct {
        const char* label;
        INSTALLSTATE first;
        std::string firstPath;
        INSTALLSTATE second;
        std::string secondPath;
        const char* expected;
    } rows[] = {
        {"first at the IDE, other case", local, upper, local, ide, "1"},
        {"first elsewhere", local, other, local, ide, "2"},
        {"first from source, second at the IDE", INSTALLSTATE_SOURCE, ide, local, ide, "2"},
        {"first absent, second elsewhere", INSTALLSTATE_ABSENT, "", local, other, "1"},
        {"first installation", never, "", never, "", "1"},
    };
    session.setProperty("ProductCode", product);
    session.setProperty("VS80_ENVDIR", ide);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        session.removeProperty("TEMPLATE_COMPONENT");
        machine.setComponent(product, "{A47ECA31-D07F-4023-BEDB-EBDC0FD4FD03}", row.first, row.firstPath.c_str());
        machine.setComponent(product, "{8C2BB15E-AF8B-4E9C-9D6B-C73E34BC4691}", row.second, row.secondPath.c_str());
        EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
        EXPECT_EQ(session.property("TEMPLATE_COMPONENT"), row.expected);
    }
    session.removeProperty("TEMPLATE_COMPONENT");
    session.failGetProperty("ProductCode", 1615);  // the IDE folder's failed read takes the same way out
    EXPECT_EQ(run(SetWOLTTemplateCompCA), 0u);
    EXPECT_FALSE(session.hasProperty("TEMPLATE_COMPONENT"));
    EXPECT_THAT(log(), Contains(::testing::HasSubstr("property ProductCode could not be read")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

}  // namespace

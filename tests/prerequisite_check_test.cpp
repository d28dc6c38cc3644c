// CheckWOLTPrereqCA: administrator rights (or a privileged installation) and Visual Studio
// 2005 or 2008; a refusal is logged and shown in a box titled like the welcome dialog.
#include "fixture.h"
#include "actions/exports.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;
using namespace fa9test;

namespace {

class Prerequisites : public SessionTest {
protected:
    Prerequisites() {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("ProductName", "Add-ins for Visual Studio");
        session.setProperty("GENERIC_DLG_TITLE", "Add-ins for Visual Studio Setup");
    }
};

TEST_F(Prerequisites, DecideFromRightsAndVisualStudio) {
    const char* noVisualStudio = "requires Microsoft Visual Studio 2005 or Microsoft Visual Studio 2008";
    const char* notAdmin = "must be a member of the Administrators group to install Add-ins for Visual Studio";
    const struct {
        const char* label;
        const char *adminUser, *privileged, *vs2005, *vs2008;  // null: not set
        UINT result;
        const char* allUsers;  // "" when untouched
        const char* refusal;   // a part of the error logged and shown in a box; null: none
    } rows[] = {
        {"admin with 2005", "1", nullptr, "YES", nullptr, 0, "", nullptr},
        {"admin with 2008 only", "1", nullptr, "NO", "YES", 0, "", nullptr},
        {"standard user, privileged, no Visual Studio", nullptr, "1", "NO", nullptr, 1603, "1", noVisualStudio},
        {"standard user not privileged", nullptr, nullptr, "YES", "YES", 1603, "", notAdmin},
        {"lower-case yes does not count", "1", nullptr, nullptr, "yes", 1603, "", noVisualStudio},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::pair<const char*, const char*> properties[] = {
            {"AdminUser", row.adminUser}, {"Privileged", row.privileged}, {"p_vsnet2005Installed", row.vs2005},
            {"p_vsnet2008Installed", row.vs2008}, {"ALLUSERS", nullptr}};
        for (const auto& [name, value] : properties)
            value ? session.setProperty(name, value) : session.removeProperty(name);
        const size_t logged = log().size();
        machine.messageBoxes.clear();
        EXPECT_EQ(run(CheckWOLTPrereqCA), row.result);
        EXPECT_EQ(session.property("ALLUSERS"), row.allUsers);
        ASSERT_EQ(log().size() - logged, row.refusal ? 1u : 0u);
        ASSERT_EQ(machine.messageBoxes.size(), row.refusal ? 1u : 0u);
        if (!row.refusal) continue;
        EXPECT_THAT(log().back(), HasSubstr(row.refusal));
        EXPECT_EQ(machine.messageBoxes[0].caption, "Add-ins for Visual Studio Setup");
    }
}

TEST_F(Prerequisites, FailedDetectionReadsAreLoggedAndTheLaterOneDecides) {
    session.setProperty("AdminUser", "1");
    session.setProperty("p_vsnet2005Installed", "YES");
    session.failGetProperty("p_vsnet2008Installed", 1615);
    EXPECT_EQ(run(CheckWOLTPrereqCA), 1615u);
    EXPECT_THAT(log(), ::testing::ElementsAre(HasSubstr("property p_vsnet2008Installed could not be read")));
    EXPECT_THAT(machine.messageBoxes, ::testing::IsEmpty());
}

}  // namespace

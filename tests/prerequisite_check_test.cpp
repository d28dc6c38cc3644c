// The administrator and Visual Studio prerequisites.
#include "actions/exports.h"
#include "fixture.h"

#include <gmock/gmock.h>

#include <ostream>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;

namespace {

struct PrereqCase {
    const char* name;
    const char* adminUser;  // null: not set
    const char* privileged;
    const char* vs2005;
    const char* vs2008;
    UINT result;
    const char* allUsers;           // expected ALLUSERS, "" when untouched
    std::vector<std::string> lines;  // whole log lines, without the "1: " framing
    bool box;
};
void PrintTo(const PrereqCase& c, std::ostream* os) { *os << c.name; }

const char* kNoVisualStudio =
    "Error: Add-ins for Visual Studio requires Microsoft Visual Studio 2005 or Microsoft Visual Studio 2008, and "
    "neither was found on this computer. Install one of them, then run the installation of Add-ins for Visual "
    "Studio again.";

class Prerequisites : public SessionTest, public ::testing::WithParamInterface<PrereqCase> {};

TEST_P(Prerequisites, DecideFromRightsAndVisualStudio) {
    const PrereqCase& c = GetParam();
    installRuntime(stringLibrary("en_US"));
    session.setProperty("ProductName", "Add-ins for Visual Studio");
    session.setProperty("GENERIC_DLG_TITLE", "Add-ins for Visual Studio Setup");
    if (c.adminUser) session.setProperty("AdminUser", c.adminUser);
    if (c.privileged) session.setProperty("Privileged", c.privileged);
    if (c.vs2005) session.setProperty("p_vsnet2005Installed", c.vs2005);
    if (c.vs2008) session.setProperty("p_vsnet2008Installed", c.vs2008);
    EXPECT_EQ(run(CheckWOLTPrereqCA), c.result);
    EXPECT_EQ(session.property("ALLUSERS"), c.allUsers);
    std::vector<std::string> expected;
    for (const std::string& line : c.lines) expected.push_back(logged(line));
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(machine.messageBoxes.size(), c.box ? 1u : 0u);
    if (c.box) {
        EXPECT_EQ(machine.messageBoxes[0].caption, "Add-ins for Visual Studio Setup");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Prereq, Prerequisites,
    ::testing::Values(
        PrereqCase{"admin_with_2005", "1", nullptr, "YES", nullptr, 0, "", {}, false},
        PrereqCase{"admin_with_2008_only", "1", nullptr, "NO", "YES", 0, "", {}, false},
        PrereqCase{"standard_user_privileged", nullptr, "1", "YES", nullptr, 0, "1", {}, false},
        PrereqCase{"standard_user_privileged_no_vs", nullptr, "1", "NO", nullptr, 1603, "1", {kNoVisualStudio}, true},
        PrereqCase{"standard_user_not_privileged",
                   nullptr,
                   nullptr,
                   "YES",
                   "YES",
                   1603,
                   "",
                   {"Error: You must be a member of the Administrators group to install Add-ins for Visual Studio. "
                    "Log on as an administrator, or start the installation with elevated privileges, and try "
                    "again."},
                   true},
        PrereqCase{"2005_no_and_2008_unset", "1", nullptr, "NO", nullptr, 1603, "", {kNoVisualStudio}, true},
        PrereqCase{"lower_case_yes_does_not_count", "1", nullptr, nullptr, "yes", 1603, "", {kNoVisualStudio},
                   true}));

TEST_F(SessionTest, FailedDetectionReadsAreLoggedAndTheLaterOneDecides) {
    installRuntime(stringLibrary("en_US"));
    session.setProperty("AdminUser", "1");
    session.setProperty("p_vsnet2005Installed", "YES");
    session.failGetProperty("p_vsnet2008Installed", 1615);
    EXPECT_EQ(run(CheckWOLTPrereqCA), 1615u);
    EXPECT_THAT(log(), ElementsAre(logged("Error: The installer property p_vsnet2008Installed could not be read.")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

}  // namespace

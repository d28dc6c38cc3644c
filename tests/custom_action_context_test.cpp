// Each custom action's frame: the engine made for it and gone with it.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <cstring>

using namespace fa9test;

namespace {

UINT WINAPI reportingAction(MSIHANDLE h) {
    CustomActionContext context(h);
    MsgTokenHolder code;
    code.addInt(5);
    ureReport(URE_SHOW_ERROR, "reportingAction", 20, 5, 2006, &code, 0, true);
    return 0;
}

// What a custom action finds before its own context is built: no engine, then a new one.
UINT WINAPI inspectingAction(MSIHANDLE h) {
    if (URE::existing()) return 1;
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
    MsgTokenHolder code;
    code.addString("7");
    ureReport(URE_SHOW_ERROR, "outside", 5, 7, 2006, &code, 0, true);
    URE::destroy();
    EXPECT_EQ(log().size(), 1u);
    EXPECT_EQ(machine.messageBoxes.size(), 1u);
}

}  // namespace

// Quotes around a message are stripped with the sibling allocator library's help where a
// standard user's immediate action may load it; elsewhere, or without it, alike.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using namespace fa9test;

namespace {

// An elevated action, or the script, never loads that library (the user's to replace).
TEST_F(FrameTest, QuotedMessageLosesItsQuotesAndKeepsItsBlanks) {
    for (const bool elevated : {true, false}) {
        SCOPED_TRACE(elevated);
        machine.token.administrator = elevated;
        forgetOutput();
        report(URE_SHOW_ERROR, 100);
        EXPECT_THAT(log(), ElementsAre(logged("ERR:   quoted text")));
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].text, "  quoted text");
        EXPECT_EQ(machine.loadedModules().size(), elevated ? 0u : 1u);
    }
}

// Only the runtime directory's copy counts: one of that name elsewhere on the search path
// (here the current directory) is never loaded, and the quotes become a blank.
TEST_F(FrameTest, WithoutTheAllocatorLibraryQuotesBecomeABlank) {
    machine.copyFileIn(FA9_OSSE_DLL, "C:\\Users\\setup\\fa9osse_install3.dll");
    machine.setCurrentDirectory("C:\\Users\\setup");
    ASSERT_TRUE(DeleteFileA((std::string(kRuntimeDir) + "\\fa9osse_install3.dll").c_str()));
    machine.token.administrator = false;  // a standard user, who would take the library
    CustomActionContext context(session.handle());
    ureReport(URE_LOG_ERROR, "test", 5, 1, 100, nullptr, 0, true);
    ureReportText(URE_LOG_ERROR, "test", 5, 1, "\"x\"", true);
    EXPECT_THAT(log(), ElementsAre(logged("ERR:    quoted text"), logged("ERR:  x")));
    EXPECT_THAT(machine.loadedModules(), ::testing::IsEmpty());
}

}  // namespace

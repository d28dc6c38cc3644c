// Quotes around a message are stripped through the sibling allocator library where a
// standard user's action may load it; elsewhere, or without it, they become a blank.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

using namespace fa9test;

namespace {

// An elevated action, or the script, never loads that library (the user's to replace);
// only the runtime folder's copy counts, never one elsewhere on the search path.
TEST_F(FrameTest, QuotedMessageLosesItsQuotesAndKeepsItsBlanks) {
    machine.copyFileIn(FA9_OSSE_DLL, "C:\\Users\\setup\\fa9osse_install3.dll");
    machine.setCurrentDirectory("C:\\Users\\setup");
    const std::string allocator = std::string(kRuntimeDir) + "\\fa9osse_install3.dll";
    ASSERT_TRUE(DeleteFileA(allocator.c_str()));
    // Message 100 and the text "x", each in quotes.
    const struct { const char* label; bool elevated; const char *quoted, *x; size_t loaded; } cases[] = {
        {"a standard user without the library", false, "   quoted text", " x", 0},
        {"elevated", true, "  quoted text", "x", 0},
        {"a standard user", false, "  quoted text", "x", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (&c == &cases[1]) machine.copyFileIn(FA9_OSSE_DLL, allocator);  // the library in place again
        machine.token.administrator = c.elevated;
        forgetOutput();
        report(URE_SHOW_ERROR, 100);
        {
            CustomActionContext context(session.handle());
            ureReportText(URE_LOG_ERROR, "test", 5, 1, "\"x\"", true);
        }
        EXPECT_EQ(log(), (std::vector<std::string>{logged("ERR: " + std::string(c.quoted)),
                                                   logged("ERR: " + std::string(c.x))}));
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].text, c.quoted);
        EXPECT_EQ(machine.loadedModules().size(), c.loaded);
    }
}

}  // namespace

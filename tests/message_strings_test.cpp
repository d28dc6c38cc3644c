// Message texts: which string library answers (the language's folder, as data only; the
// runtime folder's; none), lookup, retries and token substitution.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/message_strings.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;

namespace {

TEST_F(FrameTest, MessagesComeFromTheLanguageFolderWhenItExists) {
    machine.copyFileIn(frameStrings("de_DE"), std::string(kRuntimeDir) + "\\locale\\de_DE\\fa9istring_v97.dll");
    session.setProperty("ProductLanguage", "1031");
    report(URE_LOG_ERROR, 2006, "5");
    session.setProperty("ProductLanguage", "1036");  // French: no folder, the runtime folder's copy answers
    report(URE_LOG_ERROR, 2006, "6");
    EXPECT_THAT(log(), ElementsAre(logged("FEHLER: Fehlgeschlagen mit 5."), logged("ERR: Failed with code 6.")));
}

// The strings are read from the language's folder first, a place nothing extracts to: a
// library planted there may give its texts, but none of its code runs.
TEST_F(FrameTest, APlantedStringLibraryIsReadAsDataOnly) {
    const std::string planted = std::string(kRuntimeDir) + "\\locale\\en_US\\fa9istring_v97.dll";
    machine.copyFileIn(std::string(FA9_TEST_DATA_DIR) + "/planted/fa9istring_v97.dll", planted);
    CustomActionContext context(session.handle());
    char text[64];
    EXPECT_EQ(ureGetString(2006, text, sizeof text, nullptr), 0);
    EXPECT_STREQ(text, "Fehlgeschlagen mit %1.");
    EXPECT_EQ(machine.dataFileModules(), std::vector<std::string>{planted});
}

// No message number logs the generic failure; a number the library lacks writes nothing;
// one too long for the first try is retried until it fits.
TEST_F(FrameTest, ReportsWithoutAReadyText) {
    report(URE_SHOW_ERROR, 0);
    report(URE_SHOW_ERROR, 4242);
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
    report(URE_LOG_ERROR, 104);
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0], logged("Failed with code 0."));
    const std::string line = log()[1];
    EXPECT_EQ(line.size(), std::string("1: ERR: ").size() + 1799 + 1);
    EXPECT_THAT(line, ::testing::StartsWith("1: ERR: w0000 w0001"));
}

TEST_F(FrameTest, WithoutTheStringLibraryOnlyLiteralTextsAreWritten) {
    session.setProperty("pFA9RuntimeDirectory", "C:\\Nowhere");
    CustomActionContext context(session.handle());
    MsgTokenHolder code;
    code.addString("5");
    ureReport(URE_SHOW_ERROR, "test", 5, 5, 2006, &code, 0, true);
    ureReportText(URE_LOG_ERROR, "test", 5, 5, "plain words", true);
    EXPECT_THAT(log(), ElementsAre(logged("Could not load the resource library C:\\Nowhere\\fa9istring_v97.dll"
                                          "The specified module could not be found.\r\nplain words")));
    EXPECT_THAT(machine.messageBoxes, IsEmpty());
}

TEST_F(FrameTest, TokensAreSubstitutedAndNeedRoomForThemselves) {
    CustomActionContext context(session.handle());
    MsgTokenHolder two;
    two.addString("first");
    two.addString("second");
    char buffer[64];
    ASSERT_EQ(ureGetString(101, buffer, sizeof buffer, &two), 0);
    EXPECT_STREQ(buffer, "first and second");
    // "%1 and %2" is 9 characters; with both tokens (11) a buffer of 20 is one too small.
    EXPECT_EQ(ureGetString(101, buffer, 20, &two), 5006);
    EXPECT_EQ(ureGetString(101, buffer, 21, &two), 0);
    EXPECT_EQ(ureGetString(102, buffer, sizeof buffer, &two), -1);
    ASSERT_EQ(ureGetString(103, buffer, sizeof buffer, &two), 0);
    EXPECT_STREQ(buffer, "percent x, % and  end ");
}

}  // namespace

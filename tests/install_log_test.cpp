// A failed installer call's log line: in the library's words once its strings are loaded.
#include "fixture.h"
#include "frame/install_log.h"
#include "frame/message_strings.h"

#include <gmock/gmock.h>

using namespace fa9test;

namespace {

TEST_F(FrameTest, CallFailureLinesUseTheLibraryOnlyOnceLoaded) {
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 0);
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 1605);
    char text[64];
    ASSERT_EQ(liteLoadString(2006, text, sizeof text, (std::string(kRuntimeDir) + "\\fa9istring_v97.dll").c_str()), 0);
    iLogCallFailure(session.handle(), "iMsiGetProperty", "INSTALLDIR", 1605);
    iLogCallFailure(session.handle(), "iMsiSetProperty", nullptr, 5);
    EXPECT_THAT(log(), ::testing::ElementsAre(logged("iMsiGetProperty failed with return code '1605'."),
                                              logged("Reading INSTALLDIR: iMsiGetProperty failed (1605)."),
                                              logged("iMsiSetProperty failed (5).")));
}

}  // namespace

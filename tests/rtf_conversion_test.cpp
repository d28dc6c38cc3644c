// The summary's text as RTF, from the rich-edit control.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "response/rtf_conversion.h"

#include <memory>

namespace {

using RtfConversion = fa9test::SessionTest;

// The control hands a long document over in many pieces: the buffer grows and keeps every
// piece, in order, with RTF's escapes.
TEST_F(RtfConversion, ALongTextComesBackWhole) {
    installRuntime(fa9test::stringLibrary("en_US"));
    machine.copyFileIn(fa9test::stringLibrary("en_US"), "C:\\Windows\\System32\\riched20.dll");
    std::string escaped = std::string(30000, 'a') + "\\{";
    for (int i = 0; i < 30000; ++i) escaped += "\\\\";
    CustomActionContext context(session.handle());
    char* rtf = nullptr;
    const std::string text = std::string(30000, 'a') + "{" + std::string(30000, '\\');
    ASSERT_EQ(0u, liteConvertTextToRtf(text.c_str(), &rtf, false));
    std::unique_ptr<char[]> owned(rtf);
    const std::string out(rtf);
    EXPECT_EQ(out.rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(out.substr(out.find("\\fs17 ") + 6), escaped + "\\par\r\n}\r\n");
}

}  // namespace

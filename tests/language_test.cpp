// ProductLanguage's leading decimal number names the engine's language when the table
// knows it (Spanish in any of its forms); nothing is chosen otherwise.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"

using namespace fa9test;

namespace {

TEST_F(SessionTest, ProductLanguagePicksTheEngineLanguage) {
    const std::pair<const char*, const char*> cases[] = {  // null: not set
        {nullptr, ""}, {" \t\n\v\f\r1031", "de_DE"}, {"2057", ""}, {"1034", "es_ES"}, {"1041xyz", "ja_JP"},
        {"66569", "en_US"}, {"1048", "ro_RO"}};
    for (const auto& [value, locale] : cases) {
        SCOPED_TRACE(value ? value : "(not set)");
        if (value) session.setProperty("ProductLanguage", value);
        CustomActionContext context(session.handle());
        ASSERT_NE(URE::existing(), nullptr);
        EXPECT_STREQ(URE::existing()->language(), locale);
    }
}

}  // namespace

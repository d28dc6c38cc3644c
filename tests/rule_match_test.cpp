// The rule language of the keyword table: what each form lets pass, the locale it runs in,
// and P(), which looks at the file system.
#include "response_fixture.h"
#include "response/rule_match.h"

#include <clocale>

namespace {

TEST(RuleMatch, MatchesAsTheLanguageSays) {
    const std::vector<fa9test::Verdicts> rows = {
        // integers
        {"I(1,10)", {"5", "1", "10", "+7"}, {"0", "11", "5x", "5.0", "99999999999999999999"}},
        {"I(-1,99)", {"-1"}, {"-2"}}, {"I(-1,1)", {}, {"-"}},
        {"AUTOMATIC I(0,4294967295)", {"4294967295", "automatic"}, {}},
        // numbers
        {"F(0.1,1)", {"0.5", "1e-1", "0.1"}, {"1.01", "0.05"}}, {"F(0,100)", {"1e2"}, {}}, {"F(0,1)", {".5"}, {"nan"}},
        {"F(0,10)", {"5."}, {"0x1", "1e"}}, {"F(0,1e300)", {}, {"inf"}}, {"-1 F(0.1,100000)", {"-1"}, {}},
        // strings; without `first` the set checks the first character too
        {"S(1,3)", {"abc"}, {"abcd"}}, {"S(2)", {"a long value with blanks"}, {"a"}},
        {"S(1,8,'ab')", {"ab"}, {"abc"}}, {"S(1,8,'a')", {}, {"ca"}}, {"S(1,8,'a1','a')", {"a1"}, {"1a"}},
        {"S(1,8,'! ')", {"ab"}, {"a b"}}, {"S(1,8,'ab''')", {"a'b"}, {"a,b"}},
        {"S(1,5,'ab ') NEVER", {"a b", "never"}, {"c"}},  // the blank inside quotes does not split
        {"S(1,2)", {}, {"\xE3\x81\x82"}},                // bytes under the "C" locale
        // words
        {"TYPICAL COMPACT", {"typical"}, {"TYPICALX"}}, {"ZNK*", {"ZNKabc", "ZNK"}, {"XZNK"}},
        {"*$", {"ab$", "$"}, {"a$b$", "a$b"}}, {"**", {"*"}, {"a", "**"}}, {"A**B", {"a*b"}, {"axb"}},
        {"BLANK  S(3,3) ", {"blank"}, {}}, {"NULL", {"null"}, {}}, {"", {}, {"x"}},
        // lists
        {"R(1024,65535,':')", {"60000:60003", "60000"}, {"60003:60000", "80:90", "60000::60003"}},
        {"L(1,2,',')", {"a", "a,b"}, {"a,b,c"}}, {"L(1,5,',')", {}, {"a,,b"}}, {"L(1,3,' ')", {"a b c"}, {}},
    };
    const auto match = [](const char* rule, const char* value) { return ureMatchRule(value, rule, nullptr); };
    fa9test::expectVerdicts(rows, match, 1, 0);
}

TEST(RuleMatch, RunsInTheClassicLocaleAndRestoresTheCallers) {
    if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "C.UTF-8 locale not available";
    // Under a UTF-8 locale this is one character; the rule counts bytes.
    EXPECT_FALSE(ureMatchRule("\xC3\xA4", "S(1,1)", nullptr));
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    // A malformed rule leaves early: the locale still comes back.
    EXPECT_TRUE(ureMatchRule("x", "S(", nullptr));
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    std::setlocale(LC_ALL, "C");
}

// P() finds readable files, relative to the response file's folder.
using PathRule = fa9test::SessionTest;

TEST_F(PathRule, FindsReadableFilesBesideTheResponseFile) {
    machine.writeFile("C:\\rsp\\data.txt", "x");
    machine.writeFile("C:\\other\\data.txt", "x");
    machine.makeDirs("C:\\rsp\\folder");
    for (const char* path : {"data.txt", "C:\\other\\data.txt"})
        EXPECT_TRUE(ureMatchRule(path, "P()", "C:\\rsp\\a.rsp")) << path;
    for (const char* path : {"C:other\\data.txt", "folder", "missing.txt"})
        EXPECT_FALSE(ureMatchRule(path, "P()", "C:\\rsp\\a.rsp")) << path;
    EXPECT_FALSE(ureMatchRule("data.txt", "P()", "C:\\nowhere\\a.rsp"));
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
}

}  // namespace

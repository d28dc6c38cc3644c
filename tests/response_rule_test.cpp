// The keyword table and its rule language: rule matches form by form, the value check of
// the rows this package's response files use, the server keywords' own checks, and the
// scrambled password form.
#include "fixture.h"
#include "platform/bounded.h"
#include "response/keyword_table.h"
#include "response/password_scramble.h"
#include "response/rule_match.h"

#include <clocale>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------- rule language

// What judges the values (a rule, or a keyword of the table), the values it lets pass and
// those it refuses.
struct Verdicts {
    const char* judge;
    std::vector<const char*> passing;
    std::vector<const char*> refused;
};

// `judge` gives `pass` for every passing value, `refuse` for every refused one.
template <typename Judge>
void expectVerdicts(const std::vector<Verdicts>& rows, Judge judge, int pass, int refuse) {
    for (const Verdicts& row : rows) {
        for (const auto& [values, expected] : {std::pair{&row.passing, pass}, std::pair{&row.refused, refuse}}) {
            for (const char* value : *values) {
                SCOPED_TRACE(std::string(row.judge) + " ~ " + (value ? value : "(none)"));
                EXPECT_EQ(judge(row.judge, value), expected);
            }
        }
    }
}

TEST(RuleMatch, MatchesAsTheLanguageSays) {
    const std::vector<Verdicts> rows = {
        // integers
        {"I(1,10)", {"5", "1", "10", "+7"}, {"0", "11", "5x", "5.0", "99999999999999999999"}},
        {"I(-1,99)", {"-1"}, {"-2"}},
        {"I(-1,1)", {}, {"-"}},
        {"AUTOMATIC I(0,4294967295)", {"4294967295", "automatic"}, {}},
        // numbers
        {"F(0.1,1)", {"0.5", "1e-1", "0.1"}, {"1.01"}},
        {"F(0,100)", {"1e2"}, {}},
        {"F(0,1)", {".5"}, {"nan"}},
        {"F(0,10)", {"5."}, {"0x1", "1e"}},
        {"F(0,1e300)", {}, {"inf"}},
        {"-1 F(0.1,100000)", {"-1"}, {}},
        // strings
        {"S(1,3)", {"abc"}, {"abcd"}},
        {"S(2)", {"a long value with blanks"}, {"a"}},
        {"S(1,8,'ab')", {"ab"}, {"abc"}},
        {"S(1,8,'a')", {}, {"ca"}},  // without `first` the set checks the first too
        {"S(1,8,'a1','a')", {"a1"}, {"1a"}},
        {"S(1,8,'! ')", {"ab"}, {"a b"}},
        {"S(1,8,'ab''')", {"a'b"}, {"a,b"}},
        {"S(1,5,'ab ') NEVER", {"a b", "never"}, {"c"}},  // the blank inside quotes does not split
        {"S(1,2)", {}, {"\xE3\x81\x82"}},                // bytes under the "C" locale
        // words
        {"TYPICAL COMPACT", {"typical"}, {"TYPICALX"}},
        {"ZNK*", {"ZNKabc", "ZNK"}, {"XZNK"}},
        {"*$", {"ab$", "$"}, {"a$b$", "a$b"}},
        {"**", {"*"}, {"a", "**"}},
        {"A**B", {"a*b"}, {"axb"}},
        {"BLANK  S(3,3) ", {"blank"}, {}},
        {"NULL", {"null"}, {}},
        {"", {}, {"x"}},
        // lists
        {"R(1024,65535,':')", {"60000:60003", "60000"}, {"60003:60000", "80:90", "60000::60003"}},
        {"L(1,2,',')", {"a", "a,b"}, {"a,b,c"}},
        {"L(1,5,',')", {}, {"a,,b"}},
        {"L(1,3,' ')", {"a b c"}, {}},
    };
    expectVerdicts(rows, [](const char* rule, const char* value) { return ureMatchRule(value, rule, nullptr); }, 1, 0);
}

TEST(RuleMatchLocale, RunsInTheClassicLocaleAndRestoresTheCallers) {
    const char* before = std::setlocale(LC_ALL, "C.UTF-8");
    if (!before) GTEST_SKIP() << "C.UTF-8 locale not available";
    // Under a UTF-8 locale this is one character; the rule counts bytes.
    EXPECT_FALSE(ureMatchRule("\xC3\xA4", "S(1,1)", nullptr));
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    // A malformed rule leaves early: the locale still comes back.
    EXPECT_TRUE(ureMatchRule("x", "S(", nullptr));
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    std::setlocale(LC_ALL, "C");
}

// ---------------------------------------------------------------- the table

int row(const char* name) {
    for (int i = 0; i < kKeywordTableSize; ++i)
        if (std::string(KeywordTable[i].name) == name) return i;
    return -1;
}

TEST(KeywordTableRows, EveryRuleAndForbiddenListParses) {
    for (int i = 0; i < kKeywordTableSize; ++i) {
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].valueRule)) << KeywordTable[i].name;
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].forbiddenValues)) << KeywordTable[i].name;
    }
}

// Passing values are valid (0), refused ones of a bad value (2); a keyword of no row
// would be unknown (1).
TEST(KeywordValues, GiveTheEntryStatus) {
    const std::string k64(64, 'a'), k65(65, 'a');
    const std::vector<Verdicts> rows = {
        // the package's rows
        {"FA9_COPY_NAME", {k64.c_str(), "Copy_1"}, {k65.c_str(), "copy-1"}},
        {"INSTALL_TYPE", {"typical"}, {"minimal"}},
        {"DATABASE", {"abc12345", "$db_1"}, {"1abc", "abcdefghi"}},
        {"NAME", {"a$b", "inst1"}, {"SYSADM", "abc$", "users", "9abc", "znkinst"}},
        {"PASSWORD", {"**"}, {"*", "abcdefghijklmno"}},
        {"DEFAULT_COPY", {"on"}, {"maybe"}},
        {"LANG", {"jP"}, {"XX"}},
        {"FILE", {"C:\\x\\y.txt", "a'b,c (x)"}, {"1abc", "ab/c"}},
        {"DIR_OBJ_NAME", {"BLANK", nullptr}, {}},
        {"PROD", {"wolt_tools"}, {"NOTHING"}},
        {"CONFIG_ONLY", {""}, {}},
        // the server keywords' own checks
        {"DFTDBPATH", {"D:", "D:\\"}, {"D:x"}},
        {"FA9OPTIONS", {"-t +s -z30"}, {"t", "-1"}},
        {"DIAGPATH", {"C:\\diag", "\\\\srv\\share\\diag"}, {"diag", "C:\\a|b", "C:\\a:b"}},
        {"FA9LOADREC", {"rec.txt"}, {"C:\\x\\"}},
        {"FA9PORTRANGE", {"60000:60003"}, {"60000-60003"}},
    };
    const auto status = [](const char* keyword, const char* value) {
        return ureCheckKeywordValue(row(keyword), value, "C:\\rsp\\x.rsp");
    };
    expectVerdicts(rows, status, 0, 2);
}

// P() looks at the file system, relative to the response file's folder.
class PathRule : public fa9test::SessionTest {};

TEST_F(PathRule, FindsReadableFilesBesideTheResponseFile) {
    machine.writeFile("C:\\rsp\\data.txt", "x");
    machine.writeFile("C:\\other\\data.txt", "x");
    machine.makeDirs("C:\\rsp\\folder");
    EXPECT_TRUE(ureMatchRule("data.txt", "P()", "C:\\rsp\\a.rsp"));
    EXPECT_FALSE(ureMatchRule("data.txt", "P()", "C:\\nowhere\\a.rsp"));
    EXPECT_TRUE(ureMatchRule("C:\\other\\data.txt", "P()", "C:\\rsp\\a.rsp"));
    EXPECT_FALSE(ureMatchRule("C:other\\data.txt", "P()", "C:\\rsp\\a.rsp"));
    EXPECT_FALSE(ureMatchRule("folder", "P()", "C:\\rsp\\a.rsp"));
    EXPECT_FALSE(ureMatchRule("missing.txt", "P()", "C:\\rsp\\a.rsp"));
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
}

// ---------------------------------------------------------------- scrambled passwords

TEST(PasswordScramble, KeepsLengthAndKindAndRoundTrips) {
    const std::string plains[] = {"a", "s3cr=t~!", "pa ss", "\x82\xA0\x82\xA2", std::string(200, 'z')};
    for (const std::string& plain : plains) {
        std::string out(plain.size() + 1, '?');
        ASSERT_TRUE(rspScramble(plain.c_str(), &out[0], out.size())) << plain;
        const std::string scrambled(out.c_str());
        EXPECT_EQ(scrambled.size(), plain.size()) << "the value rule sees the password's length";
        EXPECT_EQ(scrambled.find_first_of("#*\t\r\n"), std::string::npos) << "nothing that would end a value";
        if (plain.size() > 2 && static_cast<unsigned char>(plain[0]) < 0x80) {
            EXPECT_NE(scrambled, plain);
        }
        std::string back(plain.size() + 1, '?');
        ASSERT_TRUE(rspUnscramble(scrambled.c_str(), &back[0], back.size()));
        EXPECT_EQ(std::string(back.c_str()), plain);
    }
    // Repeated letters do not repeat: each position has its own key.
    char out[8];
    ASSERT_TRUE(rspScramble("aaaaaaa", out, sizeof out));
    EXPECT_NE(out[0], out[1]);
    // '#' would start a comment, "eight ch" leaves no room for the terminator, and no
    // scrambled form holds a tab: refused, with nothing left in the buffer.
    using Transform = bool (*)(const char*, char*, size_t);
    const std::pair<Transform, const char*> refusals[] = {
        {rspScramble, "has#hash"}, {rspScramble, "star*"}, {rspScramble, "eight ch"}, {rspUnscramble, "tab\there"}};
    for (const auto& [transform, text] : refusals) {
        fa9::copyText(out, sizeof out, "x");
        EXPECT_FALSE(transform(text, out, sizeof out)) << text;
        EXPECT_STREQ(out, "") << text;
    }
}

}  // namespace

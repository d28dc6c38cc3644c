// The keyword table and its rule language: rule matches form by form, the value check of
// the rows this package's response files use, the server keywords' own checks, and the
// scrambled password form.
#include "fixture.h"
#include "response/keyword_table.h"
#include "response/password_scramble.h"
#include "response/rule_match.h"

#include <clocale>
#include <cstring>
#include <string>

namespace {

// ---------------------------------------------------------------- rule language

struct RuleCase {
    const char* value;
    const char* rule;
    bool matches;
};

TEST(RuleMatch, MatchesAsTheLanguageSays) {
    const RuleCase cases[] = {
        // integers
        {"5", "I(1,10)", true}, {"1", "I(1,10)", true}, {"10", "I(1,10)", true},
        {"0", "I(1,10)", false}, {"11", "I(1,10)", false},
        {"-1", "I(-1,99)", true}, {"-2", "I(-1,99)", false},
        {"+7", "I(1,10)", true}, {"5x", "I(1,10)", false},
        {"5.0", "I(1,10)", false}, {"-", "I(-1,1)", false},
        {"99999999999999999999", "I(1,10)", false},
        {"4294967295", "AUTOMATIC I(0,4294967295)", true},
        {"automatic", "AUTOMATIC I(0,4294967295)", true},
        // numbers
        {"0.5", "F(0.1,1)", true}, {"1e-1", "F(0.1,1)", true},
        {"1e2", "F(0,100)", true},
        {"0.1", "F(0.1,1)", true}, {"1.01", "F(0.1,1)", false},
        {".5", "F(0,1)", true}, {"5.", "F(0,10)", true},
        {"0x1", "F(0,10)", false}, {"inf", "F(0,1e300)", false},
        {"nan", "F(0,1)", false}, {"1e", "F(0,10)", false},
        {"-1", "-1 F(0.1,100000)", true},
        // strings
        {"abc", "S(1,3)", true}, {"abcd", "S(1,3)", false},
        {"a", "S(2)", false}, {"a long value with blanks", "S(2)", true},
        {"ab", "S(1,8,'ab')", true}, {"abc", "S(1,8,'ab')", false},
        {"ca", "S(1,8,'a')", false},          // without `first` the set checks the first too
        {"a1", "S(1,8,'a1','a')", true}, {"1a", "S(1,8,'a1','a')", false},
        {"ab", "S(1,8,'! ')", true}, {"a b", "S(1,8,'! ')", false},
        {"a'b", "S(1,8,'ab''')", true}, {"a,b", "S(1,8,'ab''')", false},
        {"a b", "S(1,5,'ab ') NEVER", true},  // the blank inside quotes does not split
        {"never", "S(1,5,'ab ') NEVER", true}, {"c", "S(1,5,'ab ') NEVER", false},
        {"\xE3\x81\x82", "S(1,2)", false},  // bytes under the "C" locale
        // words
        {"typical", "TYPICAL COMPACT", true}, {"TYPICALX", "TYPICAL COMPACT", false},
        {"ZNKabc", "ZNK*", true}, {"ZNK", "ZNK*", true}, {"XZNK", "ZNK*", false},
        {"ab$", "*$", true}, {"$", "*$", true}, {"a$b$", "*$", false},
        {"a$b", "*$", false}, {"*", "**", true}, {"a", "**", false},
        {"**", "**", false}, {"a*b", "A**B", true}, {"axb", "A**B", false},
        {"blank", "BLANK  S(3,3) ", true}, {"null", "NULL", true},
        {"x", "", false},
        // lists
        {"60000:60003", "R(1024,65535,':')", true}, {"60000", "R(1024,65535,':')", true},
        {"60003:60000", "R(1024,65535,':')", false},
        {"80:90", "R(1024,65535,':')", false},
        {"60000::60003", "R(1024,65535,':')", false},
        {"a", "L(1,2,',')", true}, {"a,b", "L(1,2,',')", true},
        {"a,b,c", "L(1,2,',')", false},
        {"a,,b", "L(1,5,',')", false}, {"a b c", "L(1,3,' ')", true},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " ~ " + c.rule);
        EXPECT_EQ(ureMatchRule(c.value, c.rule, nullptr), c.matches);
    }
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
        if (std::strcmp(KeywordTable[i].name, name) == 0) return i;
    return -1;
}

TEST(KeywordTableRows, EveryRuleAndForbiddenListParses) {
    for (int i = 0; i < kKeywordTableSize; ++i) {
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].valueRule)) << KeywordTable[i].name;
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].forbiddenValues)) << KeywordTable[i].name;
    }
}

TEST(KeywordValues, GiveTheEntryStatus) {
    const std::string k64(64, 'a'), k65(65, 'a');
    const struct {
        const char* keyword;
        const char* value;
        int status;
    } cases[] = {
        // the package's rows
        {"FA9_COPY_NAME", k64.c_str(), 0}, {"FA9_COPY_NAME", k65.c_str(), 2},
        {"FA9_COPY_NAME", "copy-1", 2}, {"FA9_COPY_NAME", "Copy_1", 0},
        {"INSTALL_TYPE", "typical", 0}, {"INSTALL_TYPE", "minimal", 2},
        {"DATABASE", "1abc", 2}, {"DATABASE", "abc12345", 0},
        {"DATABASE", "abcdefghi", 2}, {"DATABASE", "$db_1", 0},
        {"NAME", "SYSADM", 2}, {"NAME", "abc$", 2}, {"NAME", "a$b", 0},
        {"NAME", "users", 2}, {"NAME", "9abc", 2}, {"NAME", "inst1", 0},
        {"NAME", "znkinst", 2}, {"PASSWORD", "*", 2}, {"PASSWORD", "**", 0},
        {"PASSWORD", "abcdefghijklmno", 2}, {"DEFAULT_COPY", "on", 0},
        {"DEFAULT_COPY", "maybe", 2}, {"LANG", "jP", 0}, {"LANG", "XX", 2},
        {"FILE", "C:\\x\\y.txt", 0}, {"FILE", "1abc", 2},
        {"FILE", "ab/c", 2}, {"FILE", "a'b,c (x)", 0},
        {"DIR_OBJ_NAME", "BLANK", 0}, {"DIR_OBJ_NAME", nullptr, 0},
        {"PROD", "wolt_tools", 0}, {"PROD", "NOTHING", 2},
        {"CONFIG_ONLY", "", 0},
        // the server keywords' own checks
        {"DFTDBPATH", "D:", 0}, {"DFTDBPATH", "D:\\", 0},
        {"DFTDBPATH", "D:x", 2}, {"FA9OPTIONS", "-t +s -z30", 0},
        {"FA9OPTIONS", "t", 2}, {"FA9OPTIONS", "-1", 2},
        {"DIAGPATH", "C:\\diag", 0}, {"DIAGPATH", "\\\\srv\\share\\diag", 0},
        {"DIAGPATH", "diag", 2}, {"DIAGPATH", "C:\\a|b", 2},
        {"DIAGPATH", "C:\\a:b", 2}, {"FA9LOADREC", "rec.txt", 0},
        {"FA9LOADREC", "C:\\x\\", 2}, {"FA9PORTRANGE", "60000:60003", 0},
        {"FA9PORTRANGE", "60000-60003", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " = " + (c.value ? c.value : "(none)"));
        const int index = row(c.keyword);
        ASSERT_GE(index, 0);
        EXPECT_EQ(ureCheckKeywordValue(index, c.value, "C:\\rsp\\x.rsp"), c.status);
    }
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
    EXPECT_FALSE(rspScramble("has#hash", out, sizeof out));   // '#' would start a comment
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(rspScramble("star*", out, sizeof out));
    EXPECT_FALSE(rspScramble("eight ch", out, sizeof out));   // no room for the terminator
    EXPECT_FALSE(rspUnscramble("tab\there", out, sizeof out));  // no scrambled form holds a tab
    EXPECT_STREQ(out, "");
}

}  // namespace

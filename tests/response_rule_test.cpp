// The keyword table and its rule language: rule matches form by form, the value check of
// the rows this package's response files use, the server keywords' own checks, and the
// scrambled password form.
#include "fixture.h"
#include "response/keyword_table.h"
#include "response/password_scramble.h"
#include "response/rule_match.h"

#include <clocale>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// ---------------------------------------------------------------- rule language

struct RuleCase {
    const char* value;
    const char* rule;
    bool matches;
};
void PrintTo(const RuleCase& c, std::ostream* os) { *os << '"' << c.value << "\" ~ \"" << c.rule << '"'; }

class RuleMatch : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleMatch, MatchesAsTheLanguageSays) {
    EXPECT_EQ(ureMatchRule(GetParam().value, GetParam().rule, nullptr), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Integers, RuleMatch,
    ::testing::Values(RuleCase{"5", "I(1,10)", true}, RuleCase{"1", "I(1,10)", true}, RuleCase{"10", "I(1,10)", true},
                      RuleCase{"0", "I(1,10)", false}, RuleCase{"11", "I(1,10)", false},
                      RuleCase{"-1", "I(-1,99)", true}, RuleCase{"-2", "I(-1,99)", false},
                      RuleCase{"+7", "I(1,10)", true}, RuleCase{"5x", "I(1,10)", false},
                      RuleCase{"5.0", "I(1,10)", false}, RuleCase{"-", "I(-1,1)", false},
                      RuleCase{"99999999999999999999", "I(1,10)", false},
                      RuleCase{"4294967295", "AUTOMATIC I(0,4294967295)", true},
                      RuleCase{"automatic", "AUTOMATIC I(0,4294967295)", true}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, RuleMatch,
    ::testing::Values(RuleCase{"0.5", "F(0.1,1)", true}, RuleCase{"1e-1", "F(0.1,1)", true},
                      RuleCase{"1e2", "F(0,100)", true},
                      RuleCase{"0.1", "F(0.1,1)", true}, RuleCase{"1.01", "F(0.1,1)", false},
                      RuleCase{".5", "F(0,1)", true}, RuleCase{"5.", "F(0,10)", true},
                      RuleCase{"0x1", "F(0,10)", false}, RuleCase{"inf", "F(0,1e300)", false},
                      RuleCase{"nan", "F(0,1)", false}, RuleCase{"1e", "F(0,10)", false},
                      RuleCase{"-1", "-1 F(0.1,100000)", true}));

INSTANTIATE_TEST_SUITE_P(
    Strings, RuleMatch,
    ::testing::Values(RuleCase{"abc", "S(1,3)", true}, RuleCase{"abcd", "S(1,3)", false},
                      RuleCase{"a", "S(2)", false}, RuleCase{"a long value with blanks", "S(2)", true},
                      RuleCase{"ab", "S(1,8,'ab')", true}, RuleCase{"abc", "S(1,8,'ab')", false},
                      RuleCase{"ca", "S(1,8,'a')", false},          // without `first` the set checks the first too
                      RuleCase{"a1", "S(1,8,'a1','a')", true}, RuleCase{"1a", "S(1,8,'a1','a')", false},
                      RuleCase{"ab", "S(1,8,'! ')", true}, RuleCase{"a b", "S(1,8,'! ')", false},
                      RuleCase{"a'b", "S(1,8,'ab''')", true}, RuleCase{"a,b", "S(1,8,'ab''')", false},
                      RuleCase{"a b", "S(1,5,'ab ') NEVER", true},  // the blank inside quotes does not split
                      RuleCase{"never", "S(1,5,'ab ') NEVER", true}, RuleCase{"c", "S(1,5,'ab ') NEVER", false},
                      RuleCase{"\xE3\x81\x82", "S(1,2)", false}));  // bytes under the "C" locale

INSTANTIATE_TEST_SUITE_P(
    Words, RuleMatch,
    ::testing::Values(RuleCase{"typical", "TYPICAL COMPACT", true}, RuleCase{"TYPICALX", "TYPICAL COMPACT", false},
                      RuleCase{"ZNKabc", "ZNK*", true}, RuleCase{"ZNK", "ZNK*", true}, RuleCase{"XZNK", "ZNK*", false},
                      RuleCase{"ab$", "*$", true}, RuleCase{"$", "*$", true}, RuleCase{"a$b$", "*$", false},
                      RuleCase{"a$b", "*$", false}, RuleCase{"*", "**", true}, RuleCase{"a", "**", false},
                      RuleCase{"**", "**", false}, RuleCase{"a*b", "A**B", true}, RuleCase{"axb", "A**B", false},
                      RuleCase{"blank", "BLANK  S(3,3) ", true}, RuleCase{"null", "NULL", true},
                      RuleCase{"x", "", false}));

INSTANTIATE_TEST_SUITE_P(
    Lists, RuleMatch,
    ::testing::Values(RuleCase{"60000:60003", "R(1024,65535,':')", true}, RuleCase{"60000", "R(1024,65535,':')", true},
                      RuleCase{"60003:60000", "R(1024,65535,':')", false},
                      RuleCase{"80:90", "R(1024,65535,':')", false},
                      RuleCase{"60000::60003", "R(1024,65535,':')", false},
                      RuleCase{"a", "L(1,2,',')", true}, RuleCase{"a,b", "L(1,2,',')", true},
                      RuleCase{"a,b,c", "L(1,2,',')", false},
                      RuleCase{"a,,b", "L(1,5,',')", false}, RuleCase{"a b c", "L(1,3,' ')", true}));

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

struct ValueCase {
    const char* keyword;
    const char* value;
    int status;
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.keyword << " = " << (c.value ? c.value : "(none)"); }

class ValueCheck : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueCheck, GivesTheEntryStatus) {
    int index = row(GetParam().keyword);
    ASSERT_GE(index, 0);
    EXPECT_EQ(ureCheckKeywordValue(index, GetParam().value, "C:\\rsp\\x.rsp"), GetParam().status);
}

const std::string k64(64, 'a');
const std::string k65(65, 'a');

INSTANTIATE_TEST_SUITE_P(
    PackageRows, ValueCheck,
    ::testing::Values(ValueCase{"FA9_COPY_NAME", k64.c_str(), 0}, ValueCase{"FA9_COPY_NAME", k65.c_str(), 2},
                      ValueCase{"FA9_COPY_NAME", "copy-1", 2}, ValueCase{"FA9_COPY_NAME", "Copy_1", 0},
                      ValueCase{"INSTALL_TYPE", "typical", 0}, ValueCase{"INSTALL_TYPE", "minimal", 2},
                      ValueCase{"DATABASE", "1abc", 2}, ValueCase{"DATABASE", "abc12345", 0},
                      ValueCase{"DATABASE", "abcdefghi", 2}, ValueCase{"DATABASE", "$db_1", 0},
                      ValueCase{"NAME", "SYSADM", 2}, ValueCase{"NAME", "abc$", 2}, ValueCase{"NAME", "a$b", 0},
                      ValueCase{"NAME", "users", 2}, ValueCase{"NAME", "9abc", 2}, ValueCase{"NAME", "inst1", 0},
                      ValueCase{"NAME", "znkinst", 2}, ValueCase{"PASSWORD", "*", 2}, ValueCase{"PASSWORD", "**", 0},
                      ValueCase{"PASSWORD", "abcdefghijklmno", 2}, ValueCase{"DEFAULT_COPY", "on", 0},
                      ValueCase{"DEFAULT_COPY", "maybe", 2}, ValueCase{"LANG", "jP", 0}, ValueCase{"LANG", "XX", 2},
                      ValueCase{"FILE", "C:\\x\\y.txt", 0}, ValueCase{"FILE", "1abc", 2},
                      ValueCase{"FILE", "ab/c", 2}, ValueCase{"FILE", "a'b,c (x)", 0},
                      ValueCase{"DIR_OBJ_NAME", "BLANK", 0}, ValueCase{"DIR_OBJ_NAME", nullptr, 0},
                      ValueCase{"PROD", "wolt_tools", 0}, ValueCase{"PROD", "NOTHING", 2},
                      ValueCase{"CONFIG_ONLY", "", 0}));

INSTANTIATE_TEST_SUITE_P(
    ServerKeywords, ValueCheck,
    ::testing::Values(ValueCase{"DFTDBPATH", "D:", 0}, ValueCase{"DFTDBPATH", "D:\\", 0},
                      ValueCase{"DFTDBPATH", "D:x", 2}, ValueCase{"FA9OPTIONS", "-t +s -z30", 0},
                      ValueCase{"FA9OPTIONS", "t", 2}, ValueCase{"FA9OPTIONS", "-1", 2},
                      ValueCase{"DIAGPATH", "C:\\diag", 0}, ValueCase{"DIAGPATH", "\\\\srv\\share\\diag", 0},
                      ValueCase{"DIAGPATH", "diag", 2}, ValueCase{"DIAGPATH", "C:\\a|b", 2},
                      ValueCase{"DIAGPATH", "C:\\a:b", 2}, ValueCase{"FA9LOADREC", "rec.txt", 0},
                      ValueCase{"FA9LOADREC", "C:\\x\\", 2}, ValueCase{"FA9PORTRANGE", "60000:60003", 0},
                      ValueCase{"FA9PORTRANGE", "60000-60003", 2}));

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

// The keyword table: its rules parse, and what a keyword's value does to the entry's status.
// (In which forms a keyword is known and whether it repeats: response_file_test.)
#include "response_fixture.h"
#include "response/keyword_table.h"
#include "response/rule_match.h"

using namespace fa9test;

namespace {

TEST(KeywordTable, EveryRuleAndForbiddenListParses) {
    for (int i = 0; i < kKeywordTableSize; ++i) {
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].valueRule)) << KeywordTable[i].name;
        EXPECT_TRUE(ureRuleIsWellFormed(KeywordTable[i].forbiddenValues)) << KeywordTable[i].name;
    }
}

// Passing values are valid (0), refused ones of a bad value (2).
TEST(KeywordTable, ValuesGiveTheEntryStatus) {
    const std::string k64(64, 'a'), k65(65, 'a');
    const std::vector<Verdicts> rows = {
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
        int row = 0;
        while (row < kKeywordTableSize && std::string(KeywordTable[row].name) != keyword) ++row;
        return ureCheckKeywordValue(row, value, "C:\\rsp\\x.rsp");
    };
    expectVerdicts(rows, status, 0, 2);
}

}  // namespace

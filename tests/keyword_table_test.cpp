// The keyword table: every rule in it parses, what values of the package's keywords (and
// the server keywords' own checks) do to an entry's status, and in which forms a keyword
// may be written and whether its lines repeat, as a response file shows them.
#include "response_fixture.h"
#include "response/keyword_table.h"
#include "response/rule_match.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
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
        int row = 0;
        while (row < kKeywordTableSize && std::string(KeywordTable[row].name) != keyword) ++row;
        return ureCheckKeywordValue(row, value, "C:\\rsp\\x.rsp");
    };
    expectVerdicts(rows, status, 0, 2);
}

// A keyword is known only in the forms its row allows: bare, after DEFAULT_INSTANCE, after
// ADMIN_INSTANCE or CTLSRV_INSTANCE (lines that only name the prefix), or after any INSTANCE;
// elsewhere it is unknown (1). Of a keyword that does not repeat the last line wins.
using KeywordForms = ResponseFileTest;

TEST_F(KeywordForms, AreKnownWhereTheirRowAllowsAndRepeatOnlyWhereItSays) {
    EXPECT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9\nADMIN_INSTANCE = ADM\nCTLSRV_INSTANCE = CTL\nINSTANCE = I2\n"
                   "ADM.FA9_MDC_ROLLOUT = x\nADM.FA9LDAPHOST = x\nADM.TOOLS_CATALOG_SCHEMA = x\nADM.NOTIFYLEVEL = 1\n"
                   "FA9.AUTOSTART_GANTRY_WATCH = YES\nFA9.SQLSERVER_ODBC_LIB_PATH = x\nCTL.FA9ADMINSERVER = x\n"
                   "CTL.SYSTEM_NAME = x\nI2.FA9_MINIMUM_CLIENT_LEVEL = x\nI2.CONFIG_ONLY = YES\nI2.CHECK_UNCPATH = YES\n"
                   "FA9.NAME = a\nFA9.NAME = b\nFA9.SSL_CLNT_KEYDB = a\nFA9.SSL_CLNT_KEYDB = b\n"
                   "TALLOW_CLIENT_HOME = a\nTALLOW_CLIENT_HOME = b\n"),
              5016);
    EXPECT_THAT(marked(0), ElementsAre("PROD", "DEFAULT_INSTANCE", "CTLSRV_INSTANCE", "INSTANCE", "ADM.FA9_MDC_ROLLOUT",
                                       "ADM.FA9LDAPHOST", "CTL.FA9ADMINSERVER", "I2.FA9_MINIMUM_CLIENT_LEVEL", "FA9.NAME",
                                       "FA9.SSL_CLNT_KEYDB", "TALLOW_CLIENT_HOME"));
    EXPECT_THAT(marked(1), ElementsAre("ADMIN_INSTANCE", "ADM.TOOLS_CATALOG_SCHEMA", "ADM.NOTIFYLEVEL",
                                       "FA9.AUTOSTART_GANTRY_WATCH", "FA9.SQLSERVER_ODBC_LIB_PATH", "CTL.SYSTEM_NAME",
                                       "I2.CONFIG_ONLY", "I2.CHECK_UNCPATH"));
}

}  // namespace

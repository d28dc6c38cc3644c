// The response file's parsing: how bytes become entries, the forms of a keyword, ENCRYPTED,
// PROGNAME and the checks of entries against each other.
#include "response_fixture.h"
#include "response/password_scramble.h"

#include <gmock/gmock.h>

#include <clocale>
#include <cstdlib>

using ::testing::ElementsAre;
using namespace fa9test;

namespace {

using ResponseFileParse = ResponseFileTest;

// The last line of a keyword wins unless the keyword repeats, a known keyword without a
// value goes, a byte-order mark is passed over, UTF-16 is refused, any line end ends a line.
TEST_F(ResponseFileParse, KeepsWhatTheEditorMeantOrRefuses) {
    const std::string big(1024 * 1024, 'x');
    const struct {
        const char* label;
        std::string bytes;
        int32_t rc;
        std::vector<std::string> entries;  // keyword|value|status|line
    } rows[] = {
        {"last line wins unless the keyword repeats",
         "PROD = WOLT_TOOLS\nDEFAULT_COPY = YES\nCOMP = a\nCOMP = b \nDEFAULT_COPY = no\nPROD = ALL\n", 0,
         {"PROD|WOLT_TOOLS|0|1", "COMP|a|0|3", "COMP|b|0|4", "DEFAULT_COPY|no|0|5", "PROD|ALL|0|6"}},
        // PRODUCT is a row of the shared keyword table that is not this program's.
        {"without value, unknown, bad value",
         "PROD = ALL\nFILE =\nFILE =  \nBOGUS\nINSTALL_TYPE = MINIMAL\nPRODUCT = x\n", 5016,
         {"PROD|ALL|0|1", "BOGUS|(none)|1|4", "INSTALL_TYPE|MINIMAL|2|5", "PRODUCT|x|1|6"}},
        {"a later valid line replaces an invalid one", "PROD = ALL\nINSTALL_TYPE = MINIMAL\nINSTALL_TYPE = CUSTOM\n", 0,
         {"PROD|ALL|0|1", "INSTALL_TYPE|CUSTOM|0|3"}},
        // Outside a multi-byte code page a byte above 0x7F is one character, "##" after it a comment.
        {"utf-8 mark, comments, high byte", "\xEF\xBB\xBF# made by an editor\n* c\nPROD = ALL\nCOMP = a\x81##b\n", 0,
         {"PROD|ALL|0|3", "COMP|a\x81|0|4"}},
        {"every line end", "PROD = ALL\r\nCOMP = a\rCOMP = b\nCOMP = c\r\rCOMP = d", 0,
         {"PROD|ALL|0|1", "COMP|a|0|2", "COMP|b|0|3", "COMP|c|0|4", "COMP|d|0|6"}},
        {"a line of any length", "PROD = ALL\nCOMP = " + big + "\nCOMP = after\n", 0,
         {"PROD|ALL|0|1", "COMP|" + big + "|0|2", "COMP|after|0|3"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(load(row.bytes), row.rc);
        EXPECT_EQ(entries(), row.entries);
    }
    // UTF-16 in either byte order, told by its zero bytes with or without a mark.
    for (const std::string& bytes : {std::string("P\0R\0", 4), std::string("\0P\0R", 4), std::string("\xFF\xFEP\0", 4),
                                    std::string("\xFE\xFF\0P", 4)})
        EXPECT_EQ(load(bytes), 7106) << bytes;
}

// A keyword is known (0) only in the forms its table row allows: bare, after DEFAULT_INSTANCE
// (its first word), ADMIN_INSTANCE (itself no keyword), CTLSRV_INSTANCE or any INSTANCE, or
// after a name of the sections its row lists (DATABASE here); elsewhere it is unknown (1).
// Of a keyword that does not repeat, the last line wins.
TEST_F(ResponseFileParse, KeywordsAreKnownInTheFormsTheirRowAllows) {
    EXPECT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9 trailing words\nADMIN_INSTANCE = ADM\nCTLSRV_INSTANCE = CTL\n"
                   "INSTANCE = I2\nDATABASE = DB1\nDB1.PASSWORD = pw\nDB2.PASSWORD = pw\nNAME = bare\n"
                   "I2.PASSWORD = pw\nctl.DIR_OBJ_NAME = obj\nUNKNOWN.NAME = x\nADM.FA9_MDC_ROLLOUT = x\n"
                   "ADM.FA9LDAPHOST = x\nADM.TOOLS_CATALOG_SCHEMA = x\nADM.NOTIFYLEVEL = 1\n"
                   "FA9.AUTOSTART_GANTRY_WATCH = YES\nFA9.SQLSERVER_ODBC_LIB_PATH = x\nCTL.FA9ADMINSERVER = x\n"
                   "CTL.SYSTEM_NAME = x\n"
                   "I2.FA9_MINIMUM_CLIENT_LEVEL = x\nI2.CONFIG_ONLY = YES\nI2.CHECK_UNCPATH = YES\nfa9.name = a\n"
                   "FA9.NAME = b\nFA9.SSL_CLNT_KEYDB = a\nFA9.SSL_CLNT_KEYDB = b\nTALLOW_CLIENT_HOME = a\n"
                   "TALLOW_CLIENT_HOME = b\n"),
              5016);
    EXPECT_STREQ(file().defaultInstance(), "FA9");
    EXPECT_THAT(entries(0), ElementsAre("PROD", "DEFAULT_INSTANCE", "CTLSRV_INSTANCE", "INSTANCE", "DATABASE",
                                        "DB1.PASSWORD", "I2.PASSWORD", "ctl.DIR_OBJ_NAME", "ADM.FA9_MDC_ROLLOUT",
                                        "ADM.FA9LDAPHOST", "CTL.FA9ADMINSERVER", "I2.FA9_MINIMUM_CLIENT_LEVEL",
                                        "FA9.NAME", "FA9.SSL_CLNT_KEYDB", "TALLOW_CLIENT_HOME"));
    EXPECT_THAT(entries(1), ElementsAre("ADMIN_INSTANCE", "DB2.PASSWORD", "NAME", "UNKNOWN.NAME",
                                        "ADM.TOOLS_CATALOG_SCHEMA", "ADM.NOTIFYLEVEL", "FA9.AUTOSTART_GANTRY_WATCH",
                                        "FA9.SQLSERVER_ODBC_LIB_PATH", "CTL.SYSTEM_NAME", "I2.CONFIG_ONLY",
                                        "I2.CHECK_UNCPATH"));
    EXPECT_THAT(entries(2), ::testing::IsEmpty());
    // The last DEFAULT_INSTANCE names the instance, a shorter one after a longer included.
    ASSERT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9LONG\nDEFAULT_INSTANCE = FA9\nfa9.name = inst1\n"), 0);
    EXPECT_EQ(read("NAME", "FA9"), "INST1");  // NAME reads upper-cased
    EXPECT_EQ(read("name", "FA9"), "inst1");  // only when asked for exactly so
}

TEST_F(ResponseFileParse, ProgNameRefusesItsKeywords) {
    machine.environment["PROGNAME"] = "fa9isetup";
    EXPECT_EQ(load("PROD = ALL\nFILE = C:\\x\n"), 5016);
    EXPECT_THAT(entries(), ElementsAre("PROD|ALL|1|1", "FILE|C:\\x|0|2"));
    machine.environment["PROGNAME"] = "fa9isetupx";
    EXPECT_EQ(load("PROD = ALL\n"), 0);
}

TEST_F(ResponseFileParse, EncryptedPasswordsAreJudgedScrambledAndKeptPlain) {
    char scrambled[64], tooLong[64];
    ASSERT_TRUE(rspScramble("s3cr=t", scrambled, sizeof scrambled));
    ASSERT_TRUE(rspScramble("fifteen-letters", tooLong, sizeof tooLong));
    const std::string head = "PROD = ALL\nDEFAULT_INSTANCE = FA9\nINSTANCE = I2\nINSTANCE = I3\n"
                             "ENCRYPTED = FA9.PASSWORD ## scrambled\n  ENCRYPTED=I2.PASSWORD\n"
                             "ENCRYPTED = I3.PASSWORD\n";
    ASSERT_EQ(load(head + "FA9.PASSWORD = " + scrambled + "\n"), 0);
    EXPECT_EQ(file().encrypted().count(), 3);
    EXPECT_EQ(read("PASSWORD", "FA9"), "s3cr=t");
    // A scrambled value keeps the password's length, so S(1,14) refuses a long one.
    EXPECT_EQ(load(head + "I3.PASSWORD = " + tooLong + "\n"), 5016);
    EXPECT_THAT(entries(2), ElementsAre("I3.PASSWORD"));
    // Keywords not named by ENCRYPTED keep their value as written.
    ASSERT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9\nFA9.PASSWORD = " + std::string(scrambled) + "\n"), 0);
    EXPECT_EQ(read("PASSWORD", "FA9"), scrambled);
}

TEST_F(ResponseFileParse, CrossChecksMarkTheEntriesThatDoNotFitTogether) {
    // Both directory names together hold 255 characters.
    const std::string dirs = "PROD = ALL\nFA9.DIR_OBJ_NAME = " + std::string(200, 'o') + "\nFA9.DIR_PATH_NAME = ";
    const std::pair<std::string, std::vector<std::string>> rows[] = {  // content, the entries of a bad value
        {"PROD = GANTRY_WATCH\nINSTALL_TYPE = compact\n", {"INSTALL_TYPE"}},
        {"PROD = WOLT_TOOLS\nPROD = ferro_bridge_plus\nINSTALL_TYPE = typical\n", {"INSTALL_TYPE"}},
        {"PROD = FERRO_BRIDGE\nINSTALL_TYPE = CUSTOM\n", {}},
        {"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 101\n", {"FA9.MAX_COORDAGENTS"}},
        {"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 100\n", {}},
        {"PROD = ALL\nFA9CTLSV.MAXAGENTS = 10\nFA9CTLSV.NUM_POOLAGENTS = 11\n", {"FA9CTLSV.NUM_POOLAGENTS"}},
        {"PROD = ALL\nFA9.MAXAGENTS = 10\nFA9.NUM_POOLAGENTS = -1\n", {}},  // -1 leaves it to the server
        {dirs + std::string(55, 'p') + "\n", {}},
        {dirs + std::string(56, 'p') + "\n", {"FA9.DIR_OBJ_NAME", "FA9.DIR_PATH_NAME"}},
    };
    for (const auto& [content, marked] : rows) {
        SCOPED_TRACE(content);
        EXPECT_EQ(load("DEFAULT_INSTANCE = FA9\nCTLSRV_INSTANCE = FA9CTLSV\n" + content), marked.empty() ? 0 : 5016);
        EXPECT_EQ(entries(2), marked);
    }
}

// Under a Japanese code page a lead byte takes the byte after it along: neither a '='
// nor a '#' that follows a lead byte is syntax, and upper-casing leaves trail bytes alone.
TEST_F(ResponseFileParse, ShiftJisCharactersAreSteppedOverAsOneUnit) {
    if (!std::setlocale(LC_ALL, "ja_JP.SJIS")) GTEST_SKIP() << "ja_JP.SJIS locale not installed";
    std::setlocale(LC_ALL, "C");
    const char* old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    setenv("LC_ALL", "ja_JP.SJIS", 1);
    EXPECT_EQ(load("AB\x81=CD = v\n"), 5016);
    EXPECT_THAT(entries(), ElementsAre("AB\x81=CD|v|1|1"));
    EXPECT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9\nFA9.NAME = a\x83\x61\x81##b ## comment\n"), 0);
    EXPECT_THAT(entries(), ElementsAre("PROD|ALL|0|1", "DEFAULT_INSTANCE|FA9|0|2", "FA9.NAME|a\x83\x61\x81##b|0|3"));
    EXPECT_EQ(read("NAME", "FA9"), "A\x83\x61\x81##B");
    old ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");  // the caller's locale is back
}

}  // namespace

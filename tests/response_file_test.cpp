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

// The text as UTF-16 in either byte order, with or without its byte-order mark.
std::string utf16(const std::string& ascii, bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

// The last line of a keyword wins unless the keyword repeats, a known keyword without a
// value goes, byte-order marks, UTF-16 and the three kinds of line end as editors save them.
TEST_F(ResponseFileParse, KeepsWhatTheEditorMeantOrRefuses) {
    const std::string twoLines = "PROD = ALL\r\nCOMP = a b \r\n", big(1024 * 1024, 'x');
    const std::vector<std::string> twoEntries = {"PROD|ALL|0|1", "COMP|a b|0|2"};
    const struct {
        const char* label;
        std::string bytes;
        int32_t rc;
        std::vector<std::string> entries;  // keyword|value|status|line
    } rows[] = {
        {"last line wins unless the keyword repeats",
         "PROD = WOLT_TOOLS\nDEFAULT_COPY = YES\nCOMP = a\nCOMP = b\nDEFAULT_COPY = no\nPROD = ALL\n", 0,
         {"PROD|WOLT_TOOLS|0|1", "COMP|a|0|3", "COMP|b|0|4", "DEFAULT_COPY|no|0|5", "PROD|ALL|0|6"}},
        {"known keyword without value goes, unknown stays", "PROD = ALL\nFILE =\nFILE =    \nBOGUS\nOTHER = 1\n", 5016,
         {"PROD|ALL|0|1", "BOGUS|(none)|1|4", "OTHER|1|1|5"}},
        // PRODUCT is a row of the shared keyword table that is not this program's.
        {"bad value, unknown keywords", "PROD = ALL\nBOGUS = 1\nINSTALL_TYPE = MINIMAL\n* c\nPRODUCT = x\n", 5016,
         {"PROD|ALL|0|1", "BOGUS|1|1|2", "INSTALL_TYPE|MINIMAL|2|3", "PRODUCT|x|1|5"}},
        {"a later valid line replaces an invalid one", "PROD = ALL\nINSTALL_TYPE = MINIMAL\nINSTALL_TYPE = CUSTOM\n", 0,
         {"PROD|ALL|0|1", "INSTALL_TYPE|CUSTOM|0|3"}},
        {"ansi", twoLines, 0, twoEntries},
        {"utf8 mark", "\xEF\xBB\xBF" + twoLines, 0, twoEntries},
        {"utf8 mark then comment", "\xEF\xBB\xBF# made by an editor\nPROD = ALL\n", 0, {"PROD|ALL|0|2"}},
        {"utf16 le marked", utf16(twoLines, false, true), 7106, {}},
        {"utf16 be marked", utf16(twoLines, true, true), 7106, {}},
        {"utf16 le", utf16(twoLines, false, false), 7106, {}},
        {"utf16 be", utf16(twoLines, true, false), 7106, {}},
        {"utf16 comment first", utf16("* setup\r\nPROD = ALL\r\n", false, false), 7106, {}},
        // Outside a multi-byte code page a byte above 0x7F is one character, "##" after it a comment.
        {"high byte", "PROD = ALL\nCOMP = a\x81##b\n", 0, {"PROD|ALL|0|1", "COMP|a\x81|0|2"}},
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
}

TEST_F(ResponseFileParse, InstanceAndSectionNamesPrefixKeywords) {
    EXPECT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9 trailing words\nINSTANCE = INST2\nCTLSRV_INSTANCE = CTL\n"
                   "DATABASE = DB1\nfa9.name = inst1\nINST2.PASSWORD = pw2\nctl.DIR_OBJ_NAME = obj\nDB1.PASSWORD = pw3\n"
                   "DB1.INSTANCE = INST2\nDB2.PASSWORD = pw4\nNAME = bare\nUNKNOWN.NAME = x\n"),
              5016);
    EXPECT_STREQ(file().defaultInstance(), "FA9");
    EXPECT_THAT(marked(1), ElementsAre("DB2.PASSWORD", "NAME", "UNKNOWN.NAME"));
    EXPECT_THAT(marked(2), ::testing::IsEmpty());

    // The last DEFAULT_INSTANCE names the instance, a shorter one after a longer included.
    ASSERT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9LONG\nDEFAULT_INSTANCE = FA9\nDATABASE = DB1\nfa9.name = inst1\n"
                   "DB1.PASSWORD = pw3\n"),
              0);
    EXPECT_EQ(read("NAME", "FA9"), "INST1");  // NAME reads upper-cased
    EXPECT_EQ(read("name", "FA9"), "inst1");  // only when asked for exactly so
    EXPECT_EQ(read("PASSWORD", "DB1"), "pw3");
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
                             "ENCRYPTED = FA9.PASSWORD ## scrambled\n  ENCRYPTED=I2.PASSWORD\nENCRYPTED = I3.PASSWORD\n";
    ASSERT_EQ(load(head + "FA9.PASSWORD = " + scrambled + "\n"), 0);
    EXPECT_EQ(file().encrypted().count(), 3);
    EXPECT_EQ(read("PASSWORD", "FA9"), "s3cr=t");
    // A scrambled value keeps the password's length, so S(1,14) refuses a long one.
    EXPECT_EQ(load(head + "I3.PASSWORD = " + tooLong + "\n"), 5016);
    EXPECT_THAT(marked(2), ElementsAre("I3.PASSWORD"));
    // Keywords not named by ENCRYPTED keep their value as written.
    ASSERT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9\nFA9.PASSWORD = " + std::string(scrambled) + "\n"), 0);
    EXPECT_EQ(read("PASSWORD", "FA9"), scrambled);
}

TEST_F(ResponseFileParse, CrossChecksMarkTheEntriesThatDoNotFitTogether) {
    // Both directory names together hold 255 characters.
    const std::string obj200 = "PROD = ALL\nFA9.DIR_OBJ_NAME = " + std::string(200, 'o') + "\nFA9.DIR_PATH_NAME = ";
    const struct {
        std::string content;
        std::vector<std::string> marked;  // the entries marked as of a bad value
    } rows[] = {
        {"PROD = GANTRY_WATCH\nINSTALL_TYPE = compact\n", {"INSTALL_TYPE"}},
        {"PROD = GANTRY_WATCH\nINSTALL_TYPE = TYPICAL\n", {}},
        {"PROD = WOLT_TOOLS\nPROD = ferro_bridge_plus\nINSTALL_TYPE = typical\n", {"INSTALL_TYPE"}},
        {"PROD = FERRO_BRIDGE\nINSTALL_TYPE = CUSTOM\n", {}},
        {"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 101\n", {"FA9.MAX_COORDAGENTS"}},
        {"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 100\n", {}},
        {"PROD = ALL\nFA9CTLSV.MAXAGENTS = 10\nFA9CTLSV.NUM_POOLAGENTS = 11\n", {"FA9CTLSV.NUM_POOLAGENTS"}},
        {"PROD = ALL\nFA9.MAXAGENTS = 10\nFA9.NUM_POOLAGENTS = -1\n", {}},
        {"PROD = ALL\nFA9.FCM_NUM_RQB = 200\nFA9.FCM_NUM_CONNECT = 300\n", {"FA9.FCM_NUM_CONNECT"}},
        {obj200 + std::string(55, 'p') + "\n", {}},
        {obj200 + std::string(56, 'p') + "\n", {"FA9.DIR_OBJ_NAME", "FA9.DIR_PATH_NAME"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.content);
        EXPECT_EQ(load("DEFAULT_INSTANCE = FA9\nCTLSRV_INSTANCE = FA9CTLSV\n" + row.content), row.marked.empty() ? 0 : 5016);
        EXPECT_EQ(marked(2), row.marked);
    }
}

// Under a Japanese code page a lead byte takes the byte after it along: neither a '='
// nor a '#' that follows a lead byte is syntax, and upper-casing leaves trail bytes alone.
TEST_F(ResponseFileParse, ShiftJisCharactersAreSteppedOverAsOneUnit) {
    const char* old = std::getenv("LC_ALL");
    std::string saved = old ? old : "";
    if (!std::setlocale(LC_ALL, "ja_JP.SJIS")) GTEST_SKIP() << "ja_JP.SJIS locale not installed";
    std::setlocale(LC_ALL, "C");
    setenv("LC_ALL", "ja_JP.SJIS", 1);
    int32_t unknown = load("AB\x81=CD = v\n");
    std::vector<std::string> unknownEntries = entries();
    int32_t rc = load("PROD = ALL\nDEFAULT_INSTANCE = FA9\nFA9.NAME = a\x83\x61\x81##b ## comment\n");
    std::string name = read("NAME", "FA9");
    if (old)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");  // the caller's locale is back
    EXPECT_EQ(unknown, 5016);
    EXPECT_THAT(unknownEntries, ElementsAre("AB\x81=CD|v|1|1"));
    EXPECT_EQ(rc, 0);
    EXPECT_THAT(entries(), ElementsAre("PROD|ALL|0|1", "DEFAULT_INSTANCE|FA9|0|2", "FA9.NAME|a\x83\x61\x81##b|0|3"));
    EXPECT_EQ(name, "A\x83\x61\x81##B");
}

}  // namespace

// The response-file engine: line splitting, look-up in its forms, keep-or-replace,
// cross-checks, the reports of URE::initResponseFile, and reading keywords back.
#include "fixture.h"
#include "report_recorder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "response/password_scramble.h"
#include "response/response_engine.h"
#include "response/response_file.h"

#include <gmock/gmock.h>

#include <clocale>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace fa9test;

namespace {

const char* const kPath = "C:\\rsp\\setup.rsp";

Report initReport(uint32_t message, int probe, int64_t rc, std::vector<std::string> tokens) {
    return Report{URE_LOG_ERROR, "URE::initResponseFile", probe, rc, message, std::move(tokens)};
}

class ResponseEngine : public SessionTest {
protected:
    void SetUp() override {
        installRuntime(stringLibrary("en_US"));
        URE::instance()->setSessionHandle(session.handle());
        URE::instance()->attach(&recorder);
    }
    void TearDown() override { URE::destroy(); }

    // Writes the file and names it to the engine.
    int32_t load(const std::string& content, int skipChecks = 0) {
        machine.writeFile(kPath, content);
        return URE::instance()->setResponseFile(kPath, skipChecks);
    }
    ResponseFile& file() { return *URE::instance()->responseFile(); }
    // Keyword, value (or "(none)"), status and line of every kept entry.
    std::vector<std::string> entries() {
        std::vector<std::string> out;
        for (int i = 0; i < file().count(); ++i) {
            const ResponseFileEntry* e = file().entry(i);
            out.push_back(std::string(e->keyword()) + "|" + (e->value() ? e->value() : "(none)") + "|" +
                          std::to_string(e->status()) + "|" + std::to_string(e->lineNumber()));
        }
        return out;
    }
    // Keywords of the entries of this status.
    std::vector<std::string> marked(int status) {
        std::vector<std::string> out;
        for (int i = 0; i < file().count(); ++i)
            if (file().entry(i)->status() == status) out.push_back(file().entry(i)->keyword());
        return out;
    }
    std::string read(const char* keyword, const char* prefix = nullptr, int mode = RSP_MODE_FIRST, int* rc = nullptr) {
        char buffer[256] = "untouched";
        int r = ureReadRspFile(keyword, RSP_TYPE_TEXT, mode, nullptr, buffer, sizeof buffer, prefix, nullptr);
        if (rc) *rc = r;
        return r == 0 ? buffer : "<" + std::to_string(r) + ">";
    }

    Recorder recorder;
};

// ---------------------------------------------------------------- parsing files

// How a file's bytes become entries: the last line of a keyword wins unless the keyword
// repeats, a known keyword without a value goes, byte-order marks, UTF-16 and the three
// kinds of line end as editors save them; an invalid entry is reported, then the file.
struct ParseCase {
    const char* name;
    std::string bytes;
    int32_t rc;
    std::vector<std::string> entries;  // keyword|value|status|line
    std::vector<Report> reports = {};
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class Parsing : public ResponseEngine, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(Parsing, KeepsWhatTheEditorMeantOrRefuses) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(load(c.bytes), c.rc);
    EXPECT_EQ(entries(), c.entries);
    EXPECT_EQ(URE::instance()->responseFileReady(), c.rc == 0);  // every file here names PROD
    EXPECT_EQ(recorder.reports, c.reports);
}

// The text as UTF-16 in either byte order, with or without its byte-order mark.
std::string utf16(const std::string& ascii, bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
}

const std::string kTwoLines = "PROD = ALL\r\nCOMP = a b \r\n";
const std::vector<std::string> kTwoEntries = {"PROD|ALL|0|1", "COMP|a b|0|2"};
const std::vector<Report> kNotText = {initReport(7106, 80, 4, {kPath})};
const std::string kBig(1024 * 1024, 'x');

INSTANTIATE_TEST_SUITE_P(
    Engine, Parsing,
    ::testing::Values(
        ParseCase{"last_line_wins_unless_the_keyword_repeats",
                  "PROD = WOLT_TOOLS\nDEFAULT_COPY = YES\nCOMP = a\nCOMP = b\nDEFAULT_COPY = no\nPROD = ALL\n", 0,
                  {"PROD|WOLT_TOOLS|0|1", "COMP|a|0|3", "COMP|b|0|4", "DEFAULT_COPY|no|0|5", "PROD|ALL|0|6"}},
        ParseCase{"known_keyword_without_value_goes_unknown_stays", "PROD = ALL\nFILE =\nFILE =    \nBOGUS\nOTHER = 1\n",
                  5016, {"PROD|ALL|0|1", "BOGUS|(none)|1|4", "OTHER|1|1|5"},
                  {initReport(5017, 20, 1, {"BOGUS", "4"}), initReport(5017, 20, 1, {"OTHER", "5"}),
                   initReport(5016, 40, 1, {kPath})}},
        // PRODUCT is a row of the keyword table, shared with other programs, that is not this
        // program's: unknown here, like BOGUS of no row at all.
        ParseCase{"every_invalid_entry_then_the_file", "PROD = ALL\nBOGUS = 1\nINSTALL_TYPE = MINIMAL\n* c\nPRODUCT = x\n",
                  5016, {"PROD|ALL|0|1", "BOGUS|1|1|2", "INSTALL_TYPE|MINIMAL|2|3", "PRODUCT|x|1|5"},
                  {initReport(5017, 20, 1, {"BOGUS", "2"}), initReport(5015, 30, 2, {"MINIMAL", "INSTALL_TYPE"}),
                   initReport(5017, 20, 1, {"PRODUCT", "5"}), initReport(5016, 40, 1, {kPath})}},
        // The invalid line's error goes with it.
        ParseCase{"later_valid_line_replaces_an_invalid_one", "PROD = ALL\nINSTALL_TYPE = MINIMAL\nINSTALL_TYPE = CUSTOM\n",
                  0, {"PROD|ALL|0|1", "INSTALL_TYPE|CUSTOM|0|3"}},
        ParseCase{"ansi", kTwoLines, 0, kTwoEntries},
        ParseCase{"utf8_mark", "\xEF\xBB\xBF" + kTwoLines, 0, kTwoEntries},
        ParseCase{"utf8_mark_then_comment", "\xEF\xBB\xBF# made by an editor\nPROD = ALL\n", 0, {"PROD|ALL|0|2"}},
        ParseCase{"utf16_little_endian_marked", utf16(kTwoLines, false, true), 7106, {}, kNotText},
        ParseCase{"utf16_big_endian_marked", utf16(kTwoLines, true, true), 7106, {}, kNotText},
        ParseCase{"utf16_little_endian", utf16(kTwoLines, false, false), 7106, {}, kNotText},
        ParseCase{"utf16_big_endian", utf16(kTwoLines, true, false), 7106, {}, kNotText},
        ParseCase{"utf16_comment_first", utf16("* setup\r\nPROD = ALL\r\n", false, false), 7106, {}, kNotText},
        // Outside a multi-byte code page a byte above 0x7F is one character, and "##" after it a comment.
        ParseCase{"high_byte", "PROD = ALL\nCOMP = a\x81##b\n", 0, {"PROD|ALL|0|1", "COMP|a\x81|0|2"}},
        ParseCase{"lone_cr", "PROD = ALL\rCOMP = a\rCOMP = b", 0, {"PROD|ALL|0|1", "COMP|a|0|2", "COMP|b|0|3"}},
        ParseCase{"every_line_end", "PROD = ALL\r\nCOMP = a\rCOMP = b\nCOMP = c\r\rCOMP = d\r", 0,
                  {"PROD|ALL|0|1", "COMP|a|0|2", "COMP|b|0|3", "COMP|c|0|4", "COMP|d|0|6"}},
        // A line of any length is one entry with one line number.
        ParseCase{"long_line", "PROD = ALL\nCOMP = " + kBig + "\nCOMP = after\n", 0,
                  {"PROD|ALL|0|1", "COMP|" + kBig + "|0|2", "COMP|after|0|3"}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST_F(ResponseEngine, FilesThatCannotBeRead) {
    machine.makeDirs("C:\\rsp\\folder.rsp");
    EXPECT_EQ(URE::instance()->setResponseFile("C:\\rsp\\folder.rsp", 0), 5014);
    EXPECT_EQ(URE::instance()->setResponseFile("C:\\rsp\\missing.rsp", 1), 5014);
    EXPECT_EQ(URE::instance()->setResponseFile(nullptr, 0), 5003);
    EXPECT_THAT(recorder.reports, ElementsAre(initReport(5014, 50, 2, {"C:\\rsp\\folder.rsp"}),
                                              initReport(5014, 50, 2, {"C:\\rsp\\missing.rsp"})));
    EXPECT_FALSE(URE::instance()->responseFileReady());
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
}

// Wherever a bad value is shown (the log's token, the console of a silent installation),
// a secret shows as asterisks: every keyword with a password's rule, in every form, and
// every keyword the file names under ENCRYPTED (in any case). Another program's password
// keyword is unknown here and reported without its value. (A value not named so shows:
// the parsing table's bad INSTALL_TYPE.)
TEST_F(ResponseEngine, SecretValuesAreShownMasked) {
    URE::instance()->setSilent(true);
    std::string content = "PROD = ALL\nDEFAULT_INSTANCE = FA9\nDATABASE = DB1\nENCRYPTED = fa9_copy_name\n"
                          "FA9_COPY_NAME = my-copy\n";
    std::vector<Report> expected = {initReport(5015, 30, 2, {"********", "FA9_COPY_NAME"})};
    for (const char* keyword : {"FA9.PASSWORD", "DB1.PASSWORD", "FA9.CONFIRM_PASSWORD", "DAS_PASSWORD",
                                "DAS_CONFIRM_PASSWORD", "DAS_CONTACT_LIST_PASSWORD", "GW_PASSWORD",
                                "GW_CONFIRM_PASSWORD"}) {
        content += keyword + std::string(" = fifteen-letters\n");
        expected.push_back(initReport(5015, 30, 2, {"********", keyword}));
    }
    expected.push_back(initReport(5017, 20, 1, {"FENCED_PASSWORD", "14"}));
    expected.push_back(initReport(5016, 40, 1, {kPath}));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(load(content + "FENCED_PASSWORD = fifteen-letters\n"), 5016);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(recorder.reports, expected);
    EXPECT_THAT(out, ::testing::HasSubstr("********"));
    EXPECT_THAT(out, ::testing::Not(::testing::AnyOf(::testing::HasSubstr("fifteen"), ::testing::HasSubstr("my-copy"))));
}

// Without PROD a file is ready only when the checks are skipped or CONFIG_ONLY says yes;
// else that is reported, no product is known, and reads are refused.
TEST_F(ResponseEngine, WithoutProdReadyOnlyWhenChecksAreSkippedOrConfigOnly) {
    EXPECT_EQ(load("COMP = a\n", 1), 0);
    EXPECT_TRUE(URE::instance()->responseFileReady());
    EXPECT_EQ(load("CONFIG_ONLY = yes\n"), 0);
    EXPECT_TRUE(URE::instance()->responseFileReady());
    for (const char* content : {"", "CONFIG_ONLY = NO\nCOMP = a\n"}) {
        SCOPED_TRACE(content);
        recorder.reports.clear();
        EXPECT_EQ(load(content), 0);
        EXPECT_FALSE(URE::instance()->responseFileReady());
        EXPECT_STREQ(URE::instance()->productCode(), "");
        EXPECT_EQ(read("COMP"), "<5020>");
        const Report refused{URE_LOG_ERROR, "ureReadRspFile", 20, 0, 5020, {}};
        EXPECT_THAT(recorder.reports, ElementsAre(initReport(5375, 90, 0, {"PROD"}), refused, refused));
    }
}

// ---------------------------------------------------------------- forms of a keyword

TEST_F(ResponseEngine, InstanceAndSectionNamesPrefixKeywords) {
    EXPECT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9 trailing words\nINSTANCE = INST2\nCTLSRV_INSTANCE = CTL\n"
                   "DATABASE = DB1\nfa9.name = inst1\nINST2.PASSWORD = pw2\nctl.DIR_OBJ_NAME = obj\nDB1.PASSWORD = pw3\n"
                   "DB1.INSTANCE = INST2\nDB2.PASSWORD = pw4\nNAME = bare\nUNKNOWN.NAME = x\n"),
              5016);
    EXPECT_STREQ(file().defaultInstance(), "FA9");
    EXPECT_THAT(marked(1), ElementsAre("DB2.PASSWORD", "NAME", "UNKNOWN.NAME"));
    EXPECT_THAT(marked(2), IsEmpty());

    // The last DEFAULT_INSTANCE names the instance, a shorter one after a longer included.
    ASSERT_EQ(load("PROD = ALL\nDEFAULT_INSTANCE = FA9LONG\nDEFAULT_INSTANCE = FA9\nDATABASE = DB1\nfa9.name = inst1\n"
                   "DB1.PASSWORD = pw3\n"),
              0);
    EXPECT_EQ(read("NAME", "FA9"), "INST1");  // NAME reads upper-cased
    EXPECT_EQ(read("name", "FA9"), "inst1");  // only when asked for exactly so
    EXPECT_EQ(read("PASSWORD", "DB1"), "pw3");
}

TEST_F(ResponseEngine, ProgNameRefusesItsKeywords) {
    machine.environment["PROGNAME"] = "fa9isetup";
    EXPECT_EQ(load("PROD = ALL\nFILE = C:\\x\n"), 5016);
    EXPECT_THAT(entries(), ElementsAre("PROD|ALL|1|1", "FILE|C:\\x|0|2"));
    machine.environment["PROGNAME"] = "fa9isetupx";
    EXPECT_EQ(load("PROD = ALL\n"), 0);
}

TEST_F(ResponseEngine, EncryptedPasswordsAreJudgedScrambledAndKeptPlain) {
    char scrambled[64];
    ASSERT_TRUE(rspScramble("s3cr=t", scrambled, sizeof scrambled));
    char tooLong[64];
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

// ---------------------------------------------------------------- cross-checks

struct CrossCase {
    std::string content;
    std::vector<std::string> marked;  // keywords of the entries marked invalid
};
// The last line, which tells the cases apart.
void PrintTo(const CrossCase& c, std::ostream* os) { *os << c.content.substr(c.content.rfind('\n', c.content.size() - 2) + 1); }

class CrossCheck : public ResponseEngine, public ::testing::WithParamInterface<CrossCase> {};

TEST_P(CrossCheck, MarksTheEntriesThatDoNotFitTogether) {
    EXPECT_EQ(load("DEFAULT_INSTANCE = FA9\nCTLSRV_INSTANCE = FA9CTLSV\n" + GetParam().content),
              GetParam().marked.empty() ? 0 : 5016);
    EXPECT_EQ(marked(2), GetParam().marked);
}

// Both directory names together hold 255 characters.
const std::string kObj200 = "PROD = ALL\nFA9.DIR_OBJ_NAME = " + std::string(200, 'o') + "\nFA9.DIR_PATH_NAME = ";

INSTANTIATE_TEST_SUITE_P(
    Engine, CrossCheck,
    ::testing::Values(CrossCase{"PROD = GANTRY_WATCH\nINSTALL_TYPE = compact\n", {"INSTALL_TYPE"}},
                      CrossCase{"PROD = GANTRY_WATCH\nINSTALL_TYPE = TYPICAL\n", {}},
                      CrossCase{"PROD = WOLT_TOOLS\nPROD = ferro_bridge_plus\nINSTALL_TYPE = typical\n", {"INSTALL_TYPE"}},
                      CrossCase{"PROD = FERRO_BRIDGE\nINSTALL_TYPE = CUSTOM\n", {}},
                      CrossCase{"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 101\n", {"FA9.MAX_COORDAGENTS"}},
                      CrossCase{"PROD = ALL\nFA9.MAXAGENTS = 100\nFA9.MAX_COORDAGENTS = 100\n", {}},
                      CrossCase{"PROD = ALL\nFA9CTLSV.MAXAGENTS = 10\nFA9CTLSV.NUM_POOLAGENTS = 11\n",
                                {"FA9CTLSV.NUM_POOLAGENTS"}},
                      CrossCase{"PROD = ALL\nFA9.MAXAGENTS = 10\nFA9.NUM_POOLAGENTS = -1\n", {}},
                      CrossCase{"PROD = ALL\nFA9.FCM_NUM_RQB = 200\nFA9.FCM_NUM_CONNECT = 300\n", {"FA9.FCM_NUM_CONNECT"}},
                      CrossCase{kObj200 + std::string(55, 'p') + "\n", {}},
                      CrossCase{kObj200 + std::string(56, 'p') + "\n", {"FA9.DIR_OBJ_NAME", "FA9.DIR_PATH_NAME"}}));

// ---------------------------------------------------------------- reading keywords

TEST_F(ResponseEngine, ReadsWithCursorOrProcessWidePosition) {
    ASSERT_EQ(load("PROD = ALL\nCOMP = a\nLANG = EN\nCOMP = b\nCOMP = blank\nCOMP = 42abc\nPROD = WOLT_TOOLS\n"), 0);
    EXPECT_STREQ(URE::instance()->productCode(), "ALL");  // the first PROD
    EXPECT_EQ(read("COMP"), "a");
    EXPECT_EQ(read("comp", nullptr, 0), "b");  // continues where the last read stopped
    EXPECT_EQ(read("COMP", nullptr, 0), "");   // BLANK reads as empty text
    int number = -1;
    EXPECT_EQ(ureReadRspFile("COMP", RSP_TYPE_INT, 0, &number, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(read("COMP", nullptr, 0), "<5018>");

    std::vector<std::string> seen;
    char buffer[16];
    int32_t cursor = 0;
    for (int mode = 1;; mode = 0, ++cursor) {
        if (ureReadRspFile("COMP", RSP_TYPE_TEXT, mode, nullptr, buffer, sizeof buffer, nullptr, &cursor) != 0) break;
        seen.push_back(std::to_string(cursor) + ":" + buffer);
    }
    EXPECT_THAT(seen, ElementsAre("1:a", "3:b", "4:", "5:42abc"));
    EXPECT_EQ(ureReadRspFile("COMP", 2, 1, nullptr, buffer, sizeof buffer, nullptr, nullptr), 5003);
    EXPECT_EQ(ureReadRspFile("COMP", RSP_TYPE_TEXT, 1, nullptr, buffer, 0, nullptr, nullptr), 5003);
    // "ALL" and its terminator fit 4 bytes exactly, not 3.
    EXPECT_EQ(ureReadRspFile("PROD", RSP_TYPE_TEXT, 1, nullptr, buffer, 4, nullptr, nullptr), 0);
    EXPECT_EQ(ureReadRspFile("PROD", RSP_TYPE_TEXT, 1, nullptr, buffer, 3, nullptr, nullptr), 5006);
}

// ---------------------------------------------------------------- multi-byte characters

// Under a Japanese code page a lead byte takes the byte after it along: neither a '='
// nor a '#' that follows a lead byte is syntax, and upper-casing leaves trail bytes alone.
TEST_F(ResponseEngine, ShiftJisCharactersAreSteppedOverAsOneUnit) {
    const char* old = std::getenv("LC_ALL");
    std::string saved = old ? old : "";
    if (!std::setlocale(LC_ALL, "ja_JP.SJIS")) GTEST_SKIP() << "ja_JP.SJIS locale not installed";
    std::setlocale(LC_ALL, "C");
    setenv("LC_ALL", "ja_JP.SJIS", 1);
    int32_t unknown = load("AB\x81=CD = v\n");
    std::vector<std::string> unknownEntries = entries();
    int32_t rc = load("PROD = ALL\nDEFAULT_INSTANCE = FA9\n"
                      "FA9.NAME = a\x83\x61\x81##b ## comment\n");
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

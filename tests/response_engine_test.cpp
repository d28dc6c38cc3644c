// The response-file engine: what URE::initResponseFile reports of a file, when a file is
// ready, and reading keywords back.
#include "response_fixture.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace fa9test;

namespace {

using ResponseEngine = ResponseFileTest;

Report initReport(uint32_t message, int probe, int64_t rc, std::vector<std::string> tokens) {
    return Report{URE_LOG_ERROR, "URE::initResponseFile", probe, rc, message, std::move(tokens)};
}

// Every invalid entry is reported, from the first line on, then the file. Wherever a bad
// value shows (the log, the console of a silent installation) a secret shows as asterisks:
// a keyword with a password's rule in any form, or one ENCRYPTED names (in any case).
// Another program's password keyword is unknown here.
TEST_F(ResponseEngine, ReportsEveryInvalidEntryAndMasksSecrets) {
    URE::instance()->setSilent(true);
    std::string content = "BOGUS = 1\nPROD = ALL\nDEFAULT_INSTANCE = FA9\nDATABASE = DB1\nENCRYPTED = fa9_copy_name\n"
                          "INSTALL_TYPE = MINIMAL\nFA9_COPY_NAME = my-copy\nFENCED_PASSWORD = fifteen-letters\n";
    std::vector<Report> expected = {initReport(5017, 20, 1, {"BOGUS", "1"}),
                                    initReport(5015, 30, 2, {"MINIMAL", "INSTALL_TYPE"}),
                                    initReport(5015, 30, 2, {"********", "FA9_COPY_NAME"}),
                                    initReport(5017, 20, 1, {"FENCED_PASSWORD", "8"})};
    for (const char* keyword : {"FA9.PASSWORD", "DAS_PASSWORD"}) {
        content += keyword + std::string(" = fifteen-letters\n");
        expected.push_back(initReport(5015, 30, 2, {"********", keyword}));
    }
    expected.push_back(initReport(5016, 40, 1, {kPath}));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(load(content), 5016);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(recorder.reports, expected);
    EXPECT_FALSE(URE::instance()->responseFileReady());
    EXPECT_THAT(out, ::testing::AllOf(HasSubstr("********"), HasSubstr("MINIMAL")));
    EXPECT_THAT(out, ::testing::Not(::testing::AnyOf(HasSubstr("fifteen"), HasSubstr("my-copy"))));
}

TEST_F(ResponseEngine, FilesThatCannotBeRead) {
    machine.makeDirs("C:\\rsp\\folder.rsp");
    EXPECT_EQ(URE::instance()->setResponseFile("C:\\rsp\\folder.rsp", 0), 5014);
    EXPECT_EQ(URE::instance()->setResponseFile(nullptr, 0), 5003);
    EXPECT_THAT(recorder.reports, ElementsAre(initReport(5014, 50, 2, {"C:\\rsp\\folder.rsp"})));
    EXPECT_FALSE(URE::instance()->responseFileReady());
    EXPECT_EQ(winsim::openKernelHandleCount(), 0u);
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
        const Report refused{URE_LOG_ERROR, "ureReadRspFile", 20, 0, 5020, {}};  // setResponseFile's read of PROD too
        EXPECT_THAT(recorder.reports, ElementsAre(initReport(5375, 90, 0, {"PROD"}), refused, refused));
    }
}

TEST_F(ResponseEngine, ReadsFromTheFirstOrOnFromTheLastReadOrACursor) {
    ASSERT_EQ(load("PROD = ALL\nCOMP = a\nLANG = EN\nCOMP = b\nCOMP = blank\nCOMP = 42abc\nPROD = WOLT_TOOLS\n"), 0);
    EXPECT_STREQ(URE::instance()->productCode(), "ALL");  // the first PROD
    EXPECT_EQ(read("COMP"), "a");
    EXPECT_EQ(read("comp", nullptr, 0), "b");  // on from the last read
    EXPECT_EQ(read("COMP", nullptr, 0), "");   // BLANK reads as empty text
    int number = -1;
    EXPECT_EQ(ureReadRspFile("COMP", RSP_TYPE_INT, 0, &number, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(read("COMP", nullptr, 0), "<5018>");
    // A caller's cursor names the entry found and where the next read starts.
    char buffer[16];
    int32_t cursor = 3;
    EXPECT_EQ(ureReadRspFile("COMP", RSP_TYPE_TEXT, 0, nullptr, buffer, sizeof buffer, nullptr, &cursor), 0);
    EXPECT_EQ(cursor * 100 + buffer[0], 300 + 'b');
    EXPECT_EQ(ureReadRspFile("COMP", 2, 1, nullptr, buffer, sizeof buffer, nullptr, nullptr), 5003);
    EXPECT_EQ(ureReadRspFile("COMP", RSP_TYPE_TEXT, 1, nullptr, buffer, 0, nullptr, nullptr), 5003);
    // "ALL" and its terminator fit 4 bytes exactly, not 3.
    EXPECT_EQ(ureReadRspFile("PROD", RSP_TYPE_TEXT, 1, nullptr, buffer, 4, nullptr, nullptr), 0);
    EXPECT_EQ(ureReadRspFile("PROD", RSP_TYPE_TEXT, 1, nullptr, buffer, 3, nullptr, nullptr), 5006);
}

}  // namespace

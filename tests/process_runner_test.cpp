// The process runner on real child processes: command-line rule, captured output,
// exit codes and what is left behind.
#include "fixture.h"
#include "report_recorder.h"

#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* kChild = "C:\\Tools\\emit.exe";

class RunnerTest : public fa9test::SessionTest {
protected:
    RunnerTest() {
        machine.copyFileIn(std::string(FA9_CHILDREN_DIR) + "/emit", kChild);
        URE::instance()->attach(&recorder);
    }
    ~RunnerTest() override { URE::destroy(); }

    // Runs the child with `arguments` the way the custom actions do.
    uint32_t run(InstallProcess& runner, const std::string& arguments, uint32_t* exitCode) {
        return runCommand(runner, (std::string(kChild) + " " + arguments).c_str(), exitCode);
    }

    // A host file the child creates once its text is written (emit's mark=).
    std::string markPath() { return machine.hostPath("C:\\Tools\\written.mark"); }
    // Waits for the mark; bounded only so that a child that never writes fails the test.
    bool markAppears() {
        for (int i = 0; i < 6000; ++i) {
            if (std::ifstream(markPath()).good()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Ends the child that wrote the mark, left running on purpose.
    void endMarkedChild() {
        long pid = 0;
        if (std::ifstream(markPath()) >> pid && pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    fa9test::Recorder recorder;
};

struct CommandCase {
    const char* name;
    const char* command;
    const char* expected;
    uint32_t result;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

const std::string kOverlongCommand = "C:\\t\\tool.exe " + std::string(InstallProcess::kCommandCapacity, 'a');

class CommandLineRule : public RunnerTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandLineRule, BuildsTheLineCreateProcessGets) {
    machine.writeFile("C:\\My Tools\\long name.bat", "echo\n");
    char out[InstallProcess::kCommandCapacity];
    EXPECT_EQ(InstallProcess::buildCommandLine(GetParam().command, out, sizeof(out)), GetParam().result);
    EXPECT_EQ(std::string(out), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineRule,
    ::testing::Values(
        CommandCase{"path_with_spaces", "C:\\Program Files\\t\\tool.exe /a", "\"C:\\Program Files\\t\\tool.exe\" /a", 0},
        CommandCase{"already_quoted", "\"C:\\Program Files\\t\\tool.exe\" /a \"b c\"",
                    "\"C:\\Program Files\\t\\tool.exe\" /a \"b c\"", 0},
        CommandCase{"upper_case_com", "C:\\T\\RUN.COM x", "\"C:\\T\\RUN.COM\" x", 0},
        CommandCase{"exe_in_bat_arguments_wins", "C:\\t\\run.bat /x other.exe y", "\"C:\\t\\run.bat /x other.exe\" y", 0},
        CommandCase{"first_occurrence_ends_path", "C:\\a.exec\\b.exe /q", "\"C:\\a.exe\"c\\b.exe /q", 0},
        CommandCase{"quoted_path_ends_at_its_quote", "\"C:\\a.exec\\b.exe\" /q x.bat", "\"C:\\a.exec\\b.exe\" /q x.bat", 0},
        CommandCase{"quoted_batch_stays_quoted", "\"C:\\My Tools\\long name.bat\" /s", "\"C:\\My Tools\\long name.bat\" /s", 0},
        CommandCase{"quoted_path_without_extension", "\"C:\\t\\tool\" /a x.exe", "", 5005},
        CommandCase{"unclosed_quote_searches", "\"C:\\t\\tool.exe /a", "\"C:\\t\\tool.exe\" /a", 0},
        CommandCase{"batch_in_folder_with_spaces", "C:\\My Tools\\long name.bat /s \"q r\"",
                    "C:\\MYTOOL~1\\LONGNA~1.BAT /s \"q r\"", 0},
        CommandCase{"missing_batch_keeps_path", "C:\\No Such\\x.cmd arg", "C:\\No Such\\x.cmd arg", 0},
        CommandCase{"no_extension", "C:\\t\\tool /a", "", 5005},
        CommandCase{"null_command", nullptr, "", 5005},
        CommandCase{"too_long_leaves_nothing_half_built", kOverlongCommand.c_str(), "", 5006}),
    [](const ::testing::TestParamInfo<CommandCase>& i) { return std::string(i.param.name); });

TEST_F(RunnerTest, MegabytesOfOutputArriveWholeInOneRecord) {
    const size_t before = winsim::openKernelHandleCount();
    {
        InstallProcess runner;
        uint32_t exitCode = 99;
        ASSERT_EQ(run(runner, "out=3M exit=4", &exitCode), 0u);
        EXPECT_EQ(exitCode, 4u);
        runner.traceOutput("SomeCA", 1);
        ASSERT_EQ(recorder.reports.size(), 1u);
        const fa9test::Report& r = recorder.reports[0];
        EXPECT_EQ(r.flags, 0x04000001u);
        EXPECT_EQ(r.function, "SomeCA");
        ASSERT_EQ(r.text.size(), 3u * 1024 * 1024);
        for (size_t i = 0; i < r.text.size(); i += 4099) ASSERT_EQ(r.text[i], 'a' + static_cast<char>(i % 65536 % 26));
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before) << "pipes, process and thread handles are all closed";
}

TEST_F(RunnerTest, BothStreamsFullAtOnceDoNotBlockTheChild) {
    InstallProcess runner;
    uint32_t exitCode = 99;
    ASSERT_EQ(run(runner, "out=2M err=2M", &exitCode), 0u);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(runner.getStdoutLength(), 2u * 1024 * 1024);
    EXPECT_EQ(runner.getStderrLength(), 2u * 1024 * 1024);
}

TEST_F(RunnerTest, ProgramsThatCannotStartAnswer5082) {
    const size_t before = winsim::openKernelHandleCount();
    {
        InstallProcess runner;
        uint32_t exitCode = 0;
        EXPECT_EQ(runCommand(runner, "C:\\Tools\\missing.exe /a", &exitCode), 5082u);
        EXPECT_EQ(runCommand(runner, "C:\\Tools\\emit /no-extension", &exitCode), 5082u);
        machine.writeFile("C:\\Tools\\windows.exe", std::string("MZ\x90\0", 4));
        EXPECT_EQ(runCommand(runner, "C:\\Tools\\windows.exe", &exitCode), 5082u);
        runner.traceOutput("SomeCA", 1);
        EXPECT_TRUE(recorder.reports.empty());
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before);
}

TEST_F(RunnerTest, StandardHandlesAreTheSameAfterARun) {
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, nullptr, 0));
    SetStdHandle(STD_OUTPUT_HANDLE, w);
    SetStdHandle(STD_ERROR_HANDLE, r);
    InstallProcess runner;
    uint32_t exitCode = 0;
    ASSERT_EQ(run(runner, "out=1K err=1K", &exitCode), 0u);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), w);
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), r);
    EXPECT_EQ(runCommand(runner, "C:\\Tools\\missing.exe", &exitCode), 5082u);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), w);
    CloseHandle(r);
    CloseHandle(w);
}

// The child's text is in the pipe before the wait starts (the child marks it), so no
// loaded machine can make the wait end before there was anything to keep.
TEST_F(RunnerTest, ATimedOutWaitStopsTheReadersAndKeepsWhatWasRead) {
    InstallProcess runner;
    runner.setCommand(("C:\\Tools\\emit.exe text=early sleep=600000 mark=" + markPath()).c_str());
    runner.execute(false, false);
    ASSERT_TRUE(markAppears());
    uint32_t exitCode = 0;
    EXPECT_EQ(runner.waitForExitCode(&exitCode, 50), 0u);
    EXPECT_EQ(exitCode, static_cast<uint32_t>(STILL_ACTIVE));
    char out[64];
    runner.getStdout(out, sizeof(out));
    EXPECT_STREQ(out, "early\n");
    runner.getStderr(out, sizeof(out));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(recorder.reports.empty());
    endMarkedChild();
}

// The grandchild writes its last line when its 300 ms are over: the runner has waited
// for it only if that line is there, and a wait within the grace is no warning.
TEST_F(RunnerTest, AGrandchildHoldingThePipesDelaysButDoesNotLoseOutput) {
    InstallProcess runner;
    uint32_t exitCode = 0;
    ASSERT_EQ(run(runner, "text=parent linger=300 exit=3", &exitCode), 0u);
    EXPECT_EQ(exitCode, 3u);
    char out[64];
    runner.getStdout(out, sizeof(out));
    EXPECT_STREQ(out, "parent\n");
    runner.getStderr(out, sizeof(out));
    EXPECT_THAT(std::string(out), ::testing::EndsWith("grandchild done\n"));
    EXPECT_TRUE(recorder.reports.empty()) << "no 7101";
}

// The host processes of a run, from the line the grandchild writes: {grandchild, child}.
std::vector<long> familyOf(const std::string& stderrText) {
    long grandchild = 0, child = 0;
    std::istringstream in(stderrText);
    std::string word;
    while (in >> word)
        if (word == "grandchild") in >> grandchild >> word >> child;
    return {grandchild, child};
}

// Running means neither gone nor a zombie waiting to be reaped.
bool hostProcessRuns(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!pid || !std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' && line[close + 2] != 'X';
}

// A killed process has closed its pipes a moment before it is a zombie: allow that moment.
bool hostProcessEnds(long pid) {
    for (int i = 0; i < 500; ++i) {
        if (!hostProcessRuns(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(RunnerTest, AGrandchildHoldingThePipesPastTheGraceIsLeftWithAWarning) {
    const size_t before = winsim::openKernelHandleCount();
    std::vector<long> family;
    {
        InstallProcess runner;
        uint32_t exitCode = 0;
        ASSERT_EQ(run(runner, "text=parent linger=600000 exit=3", &exitCode), 0u);
        EXPECT_EQ(exitCode, 3u) << "the child's own exit code";
        char out[64];
        runner.getStdout(out, sizeof(out));
        EXPECT_STREQ(out, "parent\n") << "what was read is kept";
        runner.getStderr(out, sizeof(out));
        family = familyOf(out);
        ASSERT_EQ(recorder.reports.size(), 1u);
        EXPECT_EQ(recorder.reports[0].flags, URE_LOG_WARNING);
        EXPECT_EQ(recorder.reports[0].message, 7101u);
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before) << "the stopped readers' handles are closed too";
    EXPECT_TRUE(hostProcessRuns(family[0])) << "a process the child left behind is not ended";
    if (family[0]) ::kill(static_cast<pid_t>(family[0]), SIGKILL);
}

// The limit counts from the wait, which starts once the child has written its text and
// its grandchild is running: the second the child gets is all spent waiting.
TEST_F(RunnerTest, AChildPastTheTimeLimitIsEndedWithTheProcessesItStarted) {
    const size_t before = winsim::openKernelHandleCount();
    std::vector<long> family;
    {
        InstallProcess runner;
        runner.setCommand(
            ("C:\\Tools\\emit.exe text=started linger=600000 sleep=600000 mark=" + markPath()).c_str());
        runner.setTimeLimit(1);
        runner.execute(false, false);
        ASSERT_TRUE(markAppears());
        uint32_t exitCode = 0;
        EXPECT_EQ(runner.waitForExitCode(&exitCode, INFINITE), 7102u);
        EXPECT_EQ(exitCode, static_cast<uint32_t>(ERROR_TIMEOUT));
        char out[64];
        runner.getStdout(out, sizeof(out));
        EXPECT_STREQ(out, "started\n");
        runner.getStderr(out, sizeof(out));
        family = familyOf(out);
        ASSERT_EQ(recorder.reports.size(), 1u) << "no 7101: nothing outlived the end";
        EXPECT_EQ(recorder.reports[0].flags, URE_LOG_ERROR);
        EXPECT_EQ(recorder.reports[0].message, 7102u);
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before);
    ASSERT_NE(family[1], 0);
    EXPECT_TRUE(hostProcessEnds(family[1])) << "the child";
    EXPECT_TRUE(hostProcessEnds(family[0])) << "and the process it started";
}

TEST_F(RunnerTest, ANewCommandForgetsThePreviousOutput) {
    InstallProcess runner;
    uint32_t exitCode = 0;
    ASSERT_EQ(run(runner, "text=first", &exitCode), 0u);
    ASSERT_EQ(run(runner, "err=3", &exitCode), 0u);
    EXPECT_EQ(runner.getStdoutLength(), 0u);
    EXPECT_EQ(runner.getStderrLength(), 3u);
    EXPECT_EQ(machine.launches().size(), 2u);
}

TEST_F(RunnerTest, ABatchFileRunsThroughTheCommandProcessorInShortForm) {
    // The simulated command processor is the host shell: this batch file holds its commands.
    machine.writeFile("C:\\My Tools\\long name.bat", "echo batch \"$@\"\necho oops >&2\nexit 6\n");
    InstallProcess runner;
    uint32_t exitCode = 0;
    ASSERT_EQ(runCommand(runner, "C:\\My Tools\\long name.bat one two", &exitCode), 0u);
    EXPECT_EQ(exitCode, 6u);
    EXPECT_EQ(machine.launches().at(0).commandLine, "C:\\MYTOOL~1\\LONGNA~1.BAT one two");
    EXPECT_EQ(machine.launches().at(0).program, "C:\\MYTOOL~1\\LONGNA~1.BAT");
    char out[64];
    runner.getStdout(out, sizeof(out));
    EXPECT_STREQ(out, "batch one two\n");
    runner.getStderr(out, sizeof(out));
    EXPECT_STREQ(out, "oops\n");
}

struct QuoteCase {
    const char* name;
    const char* value;
    const char* quoted;  // null: refused
};
void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.name; }

class QuotedArgument : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuotedArgument, ReadsBackAsTheValue) {
    char out[64] = "-D=";
    const bool quoted = appendQuoted(out, sizeof(out), GetParam().value);
    ASSERT_EQ(quoted, GetParam().quoted != nullptr);
    if (!quoted) return;
    EXPECT_STREQ(out, (std::string("-D=") + GetParam().quoted).c_str());
    // What the program's C runtime makes of it, with an argument after it.
    EXPECT_EQ(winsim::splitCommandLine(std::string("x.exe ") + out + " next"),
              (std::vector<std::string>{"x.exe", std::string("-D=") + GetParam().value, "next"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuotedArgument,
    ::testing::Values(QuoteCase{"plain", "C:\\Tools", "\"C:\\Tools\""},
                      QuoteCase{"spaces", "C:\\Program Files\\FA9 Tools", "\"C:\\Program Files\\FA9 Tools\""},
                      QuoteCase{"one_trailing_backslash", "C:\\T\\", "\"C:\\T\\\\\""},
                      QuoteCase{"two_trailing_backslashes", "C:\\T\\\\", "\"C:\\T\\\\\\\\\""},
                      QuoteCase{"inner_backslashes_stay", "\\\\srv\\a\\\\b", "\"\\\\srv\\a\\\\b\""},
                      QuoteCase{"empty", "", "\"\""},
                      QuoteCase{"double_quote_refused", "C:\\a\"b", nullptr}),
    [](const ::testing::TestParamInfo<QuoteCase>& i) { return std::string(i.param.name); });

// Program folders on a share count as much as those on a drive, a rooted one does not
// (the actions' tests cover the drive, relative and empty forms).
TEST(ProgramFolder, ADriveOrAShare) {
    EXPECT_TRUE(isProgramFolder("\\\\server\\share\\Tools", 11));
    EXPECT_TRUE(isProgramFolder("C:/Tools", 11));
    EXPECT_FALSE(isProgramFolder("\\Tools", 11));
}

}  // namespace

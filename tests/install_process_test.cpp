// The process runner on real child processes: command-line rule, captured output,
// exit codes and what is left behind.
#include "fixture.h"
#include "report_recorder.h"

#include "frame/ure.h"
#include "frame/ure_info.h"
#include "process/install_process.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

const char* kChild = "C:\\Tools\\emit.exe";

class RunnerTest : public fa9test::SessionTest {
protected:
    RunnerTest() {
        machine.copyFileIn(std::string(FA9_CHILDREN_DIR) + "/emit", kChild);
        URE::instance()->attach(&recorder);
    }
    ~RunnerTest() override { URE::destroy(); }
    uint32_t run(InstallProcess& runner, const std::string& arguments, uint32_t* exitCode) {
        return runCommand(runner, (std::string(kChild) + " " + arguments).c_str(), exitCode);
    }
    fa9test::Recorder recorder;
};

std::string textOf(InstallProcess& runner, bool err = false) {
    char out[64];
    err ? runner.getStderr(out, sizeof(out)) : runner.getStdout(out, sizeof(out));
    return out;
}

TEST_F(RunnerTest, CommandLineRuleBuildsTheLineCreateProcessGets) {
    machine.writeFile("C:\\My Tools\\long name.bat", "echo\n");
    const std::string overlong = "C:\\t\\tool.exe " + std::string(InstallProcess::kCommandCapacity, 'a');
    const struct {
        const char* command;
        const char* expected;
        uint32_t result;
    } rows[] = {
        {"C:\\Program Files\\t\\tool.exe /a", "\"C:\\Program Files\\t\\tool.exe\" /a", 0},
        {"C:\\T\\RUN.COM x", "\"C:\\T\\RUN.COM\" x", 0},
        // The first extension of the list found ends the path, wherever it is.
        {"C:\\t\\run.bat /x other.exe y", "\"C:\\t\\run.bat /x other.exe\" y", 0},
        // A quoted path ends at its quote; an unclosed quote is searched like no quote.
        {"\"C:\\a.exec\\b.exe\" /q x.bat", "\"C:\\a.exec\\b.exe\" /q x.bat", 0},
        {"\"C:\\t\\tool\" /a x.exe", "", 5005},
        {"\"C:\\t\\tool.exe /a", "\"C:\\t\\tool.exe\" /a", 0},
        // An unquoted batch file that exists goes in its short form, a missing one as it is.
        {"C:\\My Tools\\long name.bat /s \"q r\"", "C:\\MYTOOL~1\\LONGNA~1.BAT /s \"q r\"", 0},
        {"C:\\No Such\\x.cmd arg", "C:\\No Such\\x.cmd arg", 0},
        {"C:\\t\\tool /a", "", 5005},
        {nullptr, "", 5005},
        {overlong.c_str(), "", 5006}};  // and nothing half built
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command ? std::string(row.command).substr(0, 60) : "(null)");
        char out[InstallProcess::kCommandCapacity] = "stale";
        EXPECT_EQ(InstallProcess::buildCommandLine(row.command, out, sizeof(out)), row.result);
        EXPECT_EQ(std::string(out), row.expected);
    }
}

// Both streams full at once do not block the child, and a grandchild holding the pipes
// within the grace (300 ms) delays the end but loses nothing and is no warning: its last
// line is there only if the runner waited for it. Every handle is closed afterwards.
TEST_F(RunnerTest, MegabytesOfOutputArriveWhole) {
    const size_t before = winsim::openKernelHandleCount();
    {
        InstallProcess runner;
        uint32_t exitCode = 99;
        ASSERT_EQ(run(runner, "out=3M err=2M linger=300 exit=4", &exitCode), 0u);
        EXPECT_EQ(exitCode, 4u);
        runner.traceOutput("SomeCA", 1);
        ASSERT_EQ(recorder.reports.size(), 2u) << "no 7101";
        const std::string& out = recorder.reports[0].text;
        ASSERT_EQ(out.size(), 3u * 1024 * 1024);
        for (size_t i = 0; i < out.size(); i += 4099) ASSERT_EQ(out[i], 'a' + static_cast<char>(i % 65536 % 26));
        EXPECT_THAT(recorder.reports[1].text, ::testing::EndsWith("grandchild done\n"));
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before);
}

// A program that cannot start answers 5082 and leaves nothing open; a run, started or not,
// puts the standard handles back as they were.
TEST_F(RunnerTest, ProgramsThatCannotStartAnswer5082) {
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, nullptr, 0));
    SetStdHandle(STD_OUTPUT_HANDLE, w);
    SetStdHandle(STD_ERROR_HANDLE, r);
    machine.writeFile("C:\\Tools\\windows.exe", std::string("MZ\x90\0", 4));
    const size_t before = winsim::openKernelHandleCount();
    {
        InstallProcess runner;
        uint32_t exitCode = 0;
        for (const char* command :
             {"C:\\Tools\\missing.exe /a", "C:\\Tools\\emit /no-extension", "C:\\Tools\\windows.exe"})
            EXPECT_EQ(runCommand(runner, command, &exitCode), 5082u) << command;
        runner.traceOutput("SomeCA", 1);
        EXPECT_TRUE(recorder.reports.empty());
        ASSERT_EQ(run(runner, "out=1K err=1K", &exitCode), 0u);
        EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), w);
        EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), r);
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before);
    CloseHandle(r);
    CloseHandle(w);
}

// The host processes of a run, from the line the grandchild writes: {grandchild, child}.
std::vector<long> familyOf(const std::string& stderrText) {
    long grandchild = 0, child = 0;
    std::istringstream in(stderrText);
    for (std::string word; in >> word;)
        if (word == "grandchild") in >> grandchild >> word >> child;
    return {grandchild, child};
}

// Whether `pid` is gone (or a zombie) within `tries` looks 10 ms apart: a killed process
// has closed its pipes a moment before it is a zombie.
bool hostProcessEnds(long pid, int tries = 500) {
    for (int i = 0; i < tries; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!pid || !std::getline(stat, line)) return true;
        const size_t close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X')
            return true;
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
        EXPECT_EQ(textOf(runner), "parent\n") << "what was read is kept";
        family = familyOf(textOf(runner, true));
        ASSERT_EQ(recorder.reports.size(), 1u);
        EXPECT_EQ(recorder.reports[0].flags, URE_LOG_WARNING);
        EXPECT_EQ(recorder.reports[0].message, 7101u);
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before) << "the stopped readers' handles are closed too";
    EXPECT_FALSE(hostProcessEnds(family[0], 1)) << "a process the child left behind is not ended";
    if (family[0]) ::kill(static_cast<pid_t>(family[0]), SIGKILL);
}

// The limit counts from the wait, which starts once the child has written its text and
// its grandchild is running: the second the child gets is all spent waiting.
TEST_F(RunnerTest, AChildPastTheTimeLimitIsEndedWithTheProcessesItStarted) {
    const size_t before = winsim::openKernelHandleCount();
    std::vector<long> family;
    {
        InstallProcess runner;
        const std::string mark = machine.hostPath("C:\\Tools\\written.mark");  // emit's sign that its text is out
        runner.setTimeLimit(1);
        runner.setCommand((std::string(kChild) + " text=started linger=600000 sleep=600000 mark=" + mark).c_str());
        runner.execute(false, false);
        for (int i = 0; i < 6000 && !std::ifstream(mark).good(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(std::ifstream(mark).good());
        uint32_t exitCode = 0;
        EXPECT_EQ(runner.waitForExitCode(&exitCode, INFINITE), 7102u);
        EXPECT_EQ(exitCode, static_cast<uint32_t>(ERROR_TIMEOUT));
        family = familyOf(textOf(runner, true));
        ASSERT_EQ(recorder.reports.size(), 1u) << "no 7101: nothing outlived the end";
        EXPECT_EQ(recorder.reports[0].flags, URE_LOG_ERROR);
        EXPECT_EQ(recorder.reports[0].message, 7102u);
    }
    EXPECT_EQ(winsim::openKernelHandleCount(), before);
    ASSERT_NE(family[1], 0);
    EXPECT_TRUE(hostProcessEnds(family[1])) << "the child";
    EXPECT_TRUE(hostProcessEnds(family[0])) << "and the process it started";
}

// Program folders on a share count as much as those on a drive, a rooted one does not
// (the actions' tests cover the drive, relative and empty forms).
TEST(ProgramFolder, ADriveOrAShare) {
    EXPECT_TRUE(isProgramFolder("\\\\server\\share\\Tools", 11));
    EXPECT_TRUE(isProgramFolder("C:/Tools", 11));
    EXPECT_FALSE(isProgramFolder("\\Tools", 11));
}

}  // namespace

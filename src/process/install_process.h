// Runs one external program as a hidden child process, captures what it writes to
// standard output and standard error, and hands back its exit code. Two reader
// threads drain the pipes while the child runs, so a talkative child never blocks.
#pragma once

#include "platform/win32.h"
#include "process/ure_thread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

class InstallProcess {
public:
    static constexpr size_t kCommandCapacity = 780;

    InstallProcess(const char* command = nullptr, const char* workingDirectory = nullptr,
                   bool commandLineProcessor = false, bool sqlcaOption = false);
    ~InstallProcess();
    InstallProcess(const InstallProcess&) = delete;
    InstallProcess& operator=(const InstallProcess&) = delete;

    // Builds the command line from `command` (program path quoted, batch files in
    // short form) and forgets the output of the previous run.
    void setCommand(const char* command);
    // Starts the child; with `wait`, also waits for it to end. Failures show in
    // waitForExitCode.
    uint32_t execute(bool wait, bool trace);
    // 0 with the exit code stored; 5030 when execute never reached process creation;
    // 5082 when the child was never created.
    uint32_t waitForExitCode(uint32_t* exitCode, uint32_t timeout);
    // Writes the captured standard output (probe 997) and standard error (probe 999)
    // into the installer log, each as one record.
    void traceOutput(const char* functionName, uint32_t flags);
    void traceStdout(const char* functionName, uint32_t flags);
    void traceStderr(const char* functionName, uint32_t flags);

    void setWorkingDirectory(const char* directory);
    void setTimeout(uint32_t timeout) { timeout_ = timeout; }
    uint32_t getTimeout() const { return timeout_; }
    // These and traceOutput join the reader of their stream first: call them after
    // waitForExitCode (or an execute that waited), or the join waits on a pipe this
    // object still holds open.
    // Copy the captured text, cut to fit; 5006 when it and its terminator did not fit.
    uint32_t getStdout(char* buffer, size_t capacity);
    uint32_t getStderr(char* buffer, size_t capacity);
    size_t getStdoutLength();
    size_t getStderrLength();

    const char* commandLine() const { return commandLine_; }

    // The command-line rule on its own: 5005 when `command` names no .exe, .bat, .com
    // or .cmd (the output is then empty), 5006 when the result would not fit
    // `capacity` (also empty), else 0.
    static uint32_t buildCommandLine(const char* command, char* out, size_t capacity);

private:
    void wakeReaders();
    void closeWriteEnds();
    void finishReaders();
    void releaseRun();
    bool createPipes(HANDLE* stdoutRead, HANDLE* stderrRead);
    void startReader(UREThread* record, char** slot, HANDLE readEnd, uint32_t* result);
    bool createChild();

    char commandLine_[kCommandCapacity] = {};
    char statement_[kCommandCapacity] = {};
    char* stderrText_ = nullptr;
    char* stdoutText_ = nullptr;
    bool sqlcaOption_ = false;
    UREThread stdoutReader_ = {};
    UREThread stderrReader_ = {};
    HANDLE stderrWrite_ = nullptr;
    HANDLE stdoutWrite_ = nullptr;
    // Shared with both readers; 1 tells them to stop. Atomic so the unlocked hand-over
    // is well defined; a late stop is harmless.
    std::atomic<unsigned char>* stopFlag_ = nullptr;
    PROCESS_INFORMATION processInfo_ = {};
    uint32_t timeout_ = INFINITE;
    bool executed_ = false;
    bool commandLineProcessor_ = false;
    char* workingDirectory_ = nullptr;
};

// One run the way every custom action runs a program: set the command, execute with
// wait on and trace off, wait for the exit code without limit. The runner's result.
uint32_t runCommand(InstallProcess& runner, const char* command, uint32_t* exitCode);

// Joins `parts` into a command buffer of `capacity`. False when they would not fit:
// then nothing may run, and `out` holds the beginning of the command followed by
// "..." for the report that says so.
bool joinCommand(char* out, size_t capacity, std::initializer_list<const char*> parts);

// Runs one external program as a hidden child process, captures what it writes to
// standard output and standard error, and hands back its exit code. Two reader
// threads drain the pipes while the child runs, so a talkative child never blocks.
#pragma once

#include "platform/win32.h"
#include "process/ure_thread.h"

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
    // 0 with the exit code stored; 5030 when execute never reached process creation; 5082
    // when the child was never created; 7102 (reported) when it ran past the time limit and
    // was ended with every process it started. A process it started that still holds the
    // output after a short grace is not waited for (7101, reported; what was read is kept).
    uint32_t waitForExitCode(uint32_t* exitCode, uint32_t timeout);
    // Writes the captured standard output (probe 997) and standard error (probe 999)
    // into the installer log, each as one record.
    void traceOutput(const char* functionName, uint32_t flags);
    void traceStdout(const char* functionName, uint32_t flags);
    void traceStderr(const char* functionName, uint32_t flags);

    void setWorkingDirectory(const char* directory);
    void setTimeout(uint32_t timeout) { timeout_ = timeout; }
    uint32_t getTimeout() const { return timeout_; }
    // How long the program may run, in seconds (0: no limit, the default). Past it the
    // program and every process it started are ended.
    void setTimeLimit(uint32_t seconds) { limitSeconds_ = seconds; }
    // These and traceOutput join their stream's reader first: call them after
    // waitForExitCode (or an execute that waited), else the reader is stopped after the
    // grace, since this object still holds the pipe open. The text is cut to fit (5006).
    uint32_t getStdout(char* buffer, size_t capacity);
    uint32_t getStderr(char* buffer, size_t capacity);
    size_t getStdoutLength();
    size_t getStderrLength();

    const char* commandLine() const { return commandLine_; }

    // The command-line rule on its own: 5005 when `command` names no .exe, .bat, .com or
    // .cmd, 5006 when the result would not fit `capacity` (both leave `out` empty), else 0.
    // A quoted program path ends at its closing quote; only an unquoted one is searched.
    static uint32_t buildCommandLine(const char* command, char* out, size_t capacity);

    struct ReaderBlock;

private:
    void wakeReaders();
    void closeWriteEnds();
    bool finishReader(UREThread* record, ReaderBlock*& block, char** slot, DWORD grace);
    bool finishReaders(DWORD grace);
    // Ends what is left of the last run and forgets its output.
    void releaseRun();
    // The stream's text once its reader has finished (null when it could not start).
    const char* finishedStdout();
    const char* finishedStderr();
    bool createPipes(HANDLE* stdoutRead, HANDLE* stderrRead);
    void startReader(UREThread* record, ReaderBlock*& block, HANDLE readEnd, uint32_t* result);
    bool createChild();
    DWORD waitForChild(DWORD timeout);
    void report(uint32_t flags, int probe, uint32_t message, bool withSeconds);

    char commandLine_[kCommandCapacity] = {};
    char statement_[kCommandCapacity] = {};
    char* stderrText_ = nullptr;
    char* stdoutText_ = nullptr;
    bool sqlcaOption_ = false;
    UREThread stdoutReader_ = {};
    UREThread stderrReader_ = {};
    HANDLE stderrWrite_ = nullptr;
    HANDLE stdoutWrite_ = nullptr;
    // What each reader shares with this object: its stop flag, read end and text.
    ReaderBlock* stdoutBlock_ = nullptr;
    ReaderBlock* stderrBlock_ = nullptr;
    PROCESS_INFORMATION processInfo_ = {};
    HANDLE job_ = nullptr;  // the child and every process it starts
    uint32_t timeout_ = INFINITE;
    uint32_t limitSeconds_ = 0;
    bool endedAtLimit_ = false;
    bool executed_ = false;
    bool commandLineProcessor_ = false;
    char* workingDirectory_ = nullptr;
};

// One run the way every custom action runs a program: set the command, execute with
// wait on and trace off, wait for the exit code without limit, but end the program
// after `limitSeconds` (0: never). The runner's result.
uint32_t runCommand(InstallProcess& runner, const char* command, uint32_t* exitCode, uint32_t limitSeconds = 0);

// The limit every custom action runs its programs under, in seconds: the property
// FA9_PROGRAM_TIMEOUT (0 for none), 30 minutes when it is not set to a number.
uint32_t programTimeLimit(MSIHANDLE hInstall);

// Appends `value` in double quotes so that the program's C runtime reads back exactly
// `value`: backslashes before the closing quote are doubled. False when the value
// holds a double quote itself (nothing can quote it) or the result would not fit.
bool appendQuoted(char* out, size_t capacity, const char* value);

// True when `folder` can lead a program path: a full path (drive or network share)
// that leaves room for `nameLength` more characters within a path's 260.
bool isProgramFolder(const char* folder, size_t nameLength);

// Joins `parts` into a command buffer of `capacity`. False when they would not fit: then
// nothing may run, and `out` holds the command's beginning and "..." for the report.
bool joinCommand(char* out, size_t capacity, std::initializer_list<const char*> parts);

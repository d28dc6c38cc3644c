#include "process/install_process.h"

#include "platform/bounded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"
#include "session/property_access.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const uint32_t kNoExtension = 5005;
const uint32_t kDoesNotFit = 5006;
const uint32_t kNotExecuted = 5030;
const uint32_t kNoChild = 5082;
const uint32_t kTraceFlag = 0x04000000;
const size_t kShortPathCapacity = 261;
const uint32_t kTimedOut = 7102;
const DWORD kReadChunk = 512;
const size_t kInitialTextCapacity = 1024;
// How long the readers may go on draining once the child has ended: a process the
// child started may hold the pipes open far longer.
const DWORD kDrainGrace = 3000;
// Cancelling a read can miss a reader that is just about to start one: try again.
const DWORD kCancelPause = 20;
const int kCancelTries = 100;
// A child ended by its job is gone at once; this only bounds the wait for it.
const DWORD kEndWait = 5000;
const uint32_t kDefaultLimitSeconds = 30 * 60;
const size_t kMaxPath = 260;

// Appends pieces to a fixed buffer; remembers whether everything fit.
struct Builder {
    char* out;
    size_t capacity;
    size_t length = 0;
    bool fits = true;

    Builder(char* o, size_t c) : out(o), capacity(c) { out[0] = '\0'; }
    void add(const char* text, size_t n) {
        if (!fits || length + n >= capacity) {
            fits = false;
            return;
        }
        std::memcpy(out + length, text, n);
        length += n;
        out[length] = '\0';
    }
    void add(const char* text) { add(text, std::strlen(text)); }
};

// Position of the first occurrence of `needle` in `text` without regard to case.
const char* findNoCase(const char* text, const char* needle) {
    const size_t n = std::strlen(needle);
    for (const char* p = text; *p; ++p) {
        size_t i = 0;
        while (i < n && p[i] &&
               std::tolower(static_cast<unsigned char>(p[i])) == std::tolower(static_cast<unsigned char>(needle[i])))
            ++i;
        if (i == n) return p;
    }
    return nullptr;
}

}  // namespace

// What a reader shares with its runner. Whoever lets go last frees it, so a reader
// that could not be stopped never writes into a runner that is gone.
struct InstallProcess::ReaderBlock {
    std::atomic<int> holders{2};
    std::atomic<unsigned char> stop{0};  // 1 tells the reader to stop
    HANDLE readEnd = nullptr;
    char* text = nullptr;  // the reader's until it has ended
};

namespace {

void releaseBlock(InstallProcess::ReaderBlock* block) {
    if (block->holders.fetch_sub(1) != 1) return;
    std::free(block->text);
    delete block;
}

// Drains one pipe into a growing heap text until the pipe breaks (every write end is
// closed), the read is cancelled, or the runner asks the reader to stop.
unsigned readPipeThread(void* param) {
    auto* block = static_cast<InstallProcess::ReaderBlock*>(param);
    size_t capacity = kInitialTextCapacity;
    size_t length = 0;
    char* text = static_cast<char*>(std::malloc(capacity));
    while (text && block->stop.load() != 1) {
        char chunk[kReadChunk];
        DWORD got = 0;
        if (!ReadFile(block->readEnd, chunk, kReadChunk, &got, nullptr) || got == 0) break;
        if (block->stop.load() == 1) break;
        if (length + got + 1 > capacity) {
            // realloc moves a large block's pages instead of copying them and touching new ones.
            char* grown = static_cast<char*>(std::realloc(text, capacity * 2));
            if (!grown) break;  // keep what was read so far
            text = grown;
            capacity *= 2;
        }
        std::memcpy(text + length, chunk, got);
        length += got;
    }
    if (text) text[length] = '\0';
    block->text = text;
    // The read end is needed by nobody else once its reader is done.
    CloseHandle(block->readEnd);
    block->readEnd = nullptr;
    releaseBlock(block);
    return 0;
}

void closeHandle(HANDLE& h) {
    if (h) CloseHandle(h);
    h = nullptr;
}

uint32_t copyOut(const char* text, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return kDoesNotFit;
    return fa9::copyText(buffer, capacity, text ? text : "") ? 0 : kDoesNotFit;
}

const char* const kExtensions[] = {".exe", ".bat", ".com", ".cmd"};

// True when the `n` characters at `path` end in one of the four extensions.
bool endsInExtension(const char* path, size_t n) {
    if (n < 4) return false;
    for (const char* ext : kExtensions)
        if (findNoCase(path + n - 4, ext) == path + n - 4) return true;
    return false;
}

// The program path of a command line as built here: between its quotes, or up to the
// first blank.
void programOf(const char* line, char* out, size_t capacity) {
    const char* start = line;
    const char* end;
    if (*start == '"') {
        ++start;
        end = std::strchr(start, '"');
        if (!end) end = start + std::strlen(start);
    } else {
        end = start;
        while (*end && *end != ' ' && *end != '\t') ++end;
    }
    const size_t n = static_cast<size_t>(end - start);
    if (capacity == 0) return;
    const size_t keep = n < capacity ? n : capacity - 1;
    std::memcpy(out, start, keep);
    out[keep] = '\0';
}

}  // namespace

uint32_t InstallProcess::buildCommandLine(const char* command, char* out, size_t capacity) {
    if (!out || capacity == 0) return kDoesNotFit;
    out[0] = '\0';
    if (!command) return kNoExtension;
    if (command[0] == '"') {
        // The caller's quotes say where the program path ends: a folder such as
        // "a.exec" must not end it early.
        const char* close = std::strchr(command + 1, '"');
        if (close) {
            if (!endsInExtension(command + 1, static_cast<size_t>(close - command - 1))) return kNoExtension;
            return fa9::copyText(out, capacity, command) ? 0 : (out[0] = '\0', kDoesNotFit);
        }
    }
    // The first extension of this list found anywhere decides, not the leftmost one.
    const char* found = nullptr;
    size_t which = 0;
    for (; which < 4 && !found; ++which) found = findNoCase(command, kExtensions[which]);
    if (!found) return kNoExtension;
    --which;
    const char* rest = found + 4;
    const size_t pathLength = static_cast<size_t>(rest - command);
    Builder line(out, capacity);
    if (which == 0 || which == 2) {
        if (command[0] != '"') line.add("\"");
        line.add(command, pathLength);
        line.add("\"");
        if (*rest == '"') ++rest;  // the caller had quoted the path already
    } else {
        // A batch file runs through the command processor, which wants no quotes: the
        // short form keeps blanks out of the path instead.
        char path[kShortPathCapacity] = {};
        char shortPath[kShortPathCapacity] = {};
        if (pathLength < kShortPathCapacity) std::memcpy(path, command, pathLength);
        DWORD n = pathLength < kShortPathCapacity
                      ? GetShortPathNameA(path, shortPath, static_cast<DWORD>(kShortPathCapacity))
                      : 0;
        if (n > 0 && n < kShortPathCapacity)
            line.add(shortPath);
        else
            line.add(command, pathLength);
    }
    line.add(rest);
    if (!line.fits) {
        out[0] = '\0';
        return kDoesNotFit;
    }
    return 0;
}

InstallProcess::InstallProcess(const char* command, const char* workingDirectory, bool commandLineProcessor,
                               bool sqlcaOption)
    : sqlcaOption_(sqlcaOption), commandLineProcessor_(commandLineProcessor) {
    if (command && !commandLineProcessor) {
        if (buildCommandLine(command, commandLine_, kCommandCapacity) == kNoExtension &&
            !fa9::copyText(commandLine_, kCommandCapacity, command))
            commandLine_[0] = '\0';
    } else if (command) {
        // The statement goes to the database command-line processor in double quotes.
        fa9::copyText(statement_, kCommandCapacity, command);
        buildCommandLine("fa9.exe", commandLine_, kCommandCapacity);
        bool fits = fa9::appendText(commandLine_, kCommandCapacity, sqlcaOption ? " -a -v \"" : " -ec -v \"") &&
                    fa9::appendText(commandLine_, kCommandCapacity, statement_) &&
                    fa9::appendText(commandLine_, kCommandCapacity, "\"");
        if (!fits) commandLine_[0] = '\0';
    }
    setWorkingDirectory(workingDirectory);
}

InstallProcess::~InstallProcess() {
    releaseRun();
    closeWriteEnds();
    std::free(workingDirectory_);
}

void InstallProcess::setWorkingDirectory(const char* directory) {
    std::free(workingDirectory_);
    workingDirectory_ = nullptr;
    if (!directory) return;
    const size_t n = std::strlen(directory);
    workingDirectory_ = static_cast<char*>(std::malloc(n + 1));
    if (workingDirectory_) std::memcpy(workingDirectory_, directory, n + 1);
}

void InstallProcess::setCommand(const char* command) {
    releaseRun();
    commandLine_[0] = '\0';
    buildCommandLine(command, commandLine_, kCommandCapacity);
}

void InstallProcess::wakeReaders() {
    if (stdoutBlock_) stdoutBlock_->stop.store(1);
    if (stderrBlock_) stderrBlock_->stop.store(1);
    // A reader blocked in a read returns with these bytes and then sees the flag.
    static const char kZeros[3] = {0, 0, 0};
    DWORD written = 0;
    if (stdoutWrite_) WriteFile(stdoutWrite_, kZeros, sizeof(kZeros), &written, nullptr);
    if (stderrWrite_) WriteFile(stderrWrite_, kZeros, sizeof(kZeros), &written, nullptr);
}

void InstallProcess::closeWriteEnds() {
    closeHandle(stdoutWrite_);
    closeHandle(stderrWrite_);
}

// Gives the reader `grace` to finish, then stops it: its pending read is cancelled
// until it ends. Its text becomes `*slot`. False when it had to be stopped. A reader
// that cannot even be stopped is left to end by itself; its block is then its own.
bool InstallProcess::finishReader(UREThread* record, ReaderBlock*& block, char** slot, DWORD grace) {
    bool inTime = ureJoinThread(record, grace);
    if (!inTime) {
        if (block) block->stop.store(1);
        for (int i = 0; i < kCancelTries && record->handle; ++i) {
            CancelSynchronousIo(record->handle);
            ureJoinThread(record, kCancelPause);
        }
        if (record->handle) {
            CloseHandle(record->handle);
            *record = {};
        }
    }
    if (block) {
        // Past the joins above the reader has let go of its text, or never will.
        if (block->holders.load() == 1) {
            std::free(*slot);
            *slot = block->text;
            block->text = nullptr;
        }
        releaseBlock(block);
        block = nullptr;
    }
    return inTime;
}

// False when a reader did not end within the grace. Once one had to be stopped, the
// other gets no grace of its own.
bool InstallProcess::finishReaders(DWORD grace) {
    const bool errInTime = finishReader(&stderrReader_, stderrBlock_, &stderrText_, grace);
    const bool outInTime = finishReader(&stdoutReader_, stdoutBlock_, &stdoutText_, errInTime ? grace : 0);
    return errInTime && outInTime;
}

void InstallProcess::releaseRun() {
    // Readers still running here belong to a run nobody waited for: stop them rather
    // than wait on a pipe this object itself keeps open.
    if (stdoutReader_.handle || stderrReader_.handle || stdoutBlock_ || stderrBlock_) {
        wakeReaders();
        closeWriteEnds();
        finishReaders(kDrainGrace);
    }
    closeHandle(processInfo_.hProcess);
    closeHandle(processInfo_.hThread);
    processInfo_ = {};
    // No kill on close: a process the program started and left running is its business.
    closeHandle(job_);
    endedAtLimit_ = false;
    // A second run, of the same command or another, starts with empty texts.
    executed_ = false;
    std::free(stdoutText_);
    std::free(stderrText_);
    stdoutText_ = nullptr;
    stderrText_ = nullptr;
}

bool InstallProcess::createPipes(HANDLE* stdoutRead, HANDLE* stderrRead) {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    closeWriteEnds();
    HANDLE outRead = nullptr;
    HANDLE errRead = nullptr;
    if (!CreatePipe(&outRead, &stdoutWrite_, &inheritable, 0)) return false;
    if (!CreatePipe(&errRead, &stderrWrite_, &inheritable, 0)) {
        closeHandle(outRead);
        return false;
    }
    bool ok = SetStdHandle(STD_OUTPUT_HANDLE, stdoutWrite_) && SetStdHandle(STD_ERROR_HANDLE, stderrWrite_);
    // Only the write ends may reach the child: it would otherwise hold our read ends.
    const HANDLE self = GetCurrentProcess();
    ok = ok && DuplicateHandle(self, outRead, self, stdoutRead, 0, FALSE, DUPLICATE_SAME_ACCESS);
    closeHandle(outRead);
    ok = ok && DuplicateHandle(self, errRead, self, stderrRead, 0, FALSE, DUPLICATE_SAME_ACCESS);
    closeHandle(errRead);
    if (!ok) {
        closeHandle(*stdoutRead);
        closeHandle(*stderrRead);
    }
    return ok;
}

void InstallProcess::startReader(UREThread* record, ReaderBlock*& block, HANDLE readEnd, uint32_t* result) {
    *record = {};
    block = new (std::nothrow) ReaderBlock;
    if (!block) {
        // Like a reader that cannot start, but the runner itself reports nothing: the
        // stream's text stays null and the run goes on.
        CloseHandle(readEnd);
        *result = 5002;
        return;
    }
    block->readEnd = readEnd;
    *result = ureCreateThread(readPipeThread, block, record);
    if (*result != 0) {
        // The stream's text stays null; the run goes on without it.
        CloseHandle(readEnd);
        delete block;
        block = nullptr;
    }
}

bool InstallProcess::createChild() {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = stdoutWrite_;
    startup.hStdError = stderrWrite_;
    processInfo_ = {};
    // Created suspended so that it is in its job before it can start anything.
    if (!CreateProcessA(nullptr, commandLine_, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED,
                        nullptr, workingDirectory_, &startup, &processInfo_)) {
        processInfo_ = {};
        return false;
    }
    job_ = CreateJobObjectA(nullptr, nullptr);
    // Without a job (the installer's own job may forbid one) only the child can be ended.
    if (job_ && !AssignProcessToJobObject(job_, processInfo_.hProcess)) closeHandle(job_);
    ResumeThread(processInfo_.hThread);
    // Only the process handle is ever waited on.
    closeHandle(processInfo_.hThread);
    return true;
}

// Waits for the child as long as `timeout` says, but no longer than the time limit:
// past that, the child and every process it started are ended.
DWORD InstallProcess::waitForChild(DWORD timeout) {
    const DWORD limit = limitSeconds_ == 0 ? INFINITE
                        : limitSeconds_ >= (INFINITE - 1) / 1000 ? INFINITE - 1
                                                                 : limitSeconds_ * 1000;
    const bool limited = processInfo_.hProcess && limit != INFINITE && (timeout == INFINITE || limit <= timeout);
    DWORD result = WaitForSingleObject(processInfo_.hProcess, limited ? limit : timeout);
    if (result == WAIT_TIMEOUT && limited) {
        if (job_)
            TerminateJobObject(job_, ERROR_TIMEOUT);
        else
            TerminateProcess(processInfo_.hProcess, ERROR_TIMEOUT);
        endedAtLimit_ = true;
        result = WaitForSingleObject(processInfo_.hProcess, kEndWait);
    }
    return result;
}

void InstallProcess::report(uint32_t flags, int probe, uint32_t message, bool withSeconds) {
    char program[kCommandCapacity] = {};
    programOf(commandLine_, program, sizeof(program));
    MsgTokenHolder tokens(program);
    if (withSeconds) tokens.addUnsigned(limitSeconds_);
    ureReport(flags, "InstallProcess::waitForExitCode", probe, 0, message, &tokens, 0, true);
}

uint32_t InstallProcess::execute(bool wait, bool trace) {
    if (trace) {
        MsgTokenHolder tokens(commandLine_);
        ureReport(kTraceFlag, "InstallProcess::execute", 18, 0, 1038, &tokens, 0, true);
    }
    releaseRun();
    const HANDLE savedStdout = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE savedStderr = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE stdoutRead = nullptr;
    HANDLE stderrRead = nullptr;
    if (!createPipes(&stdoutRead, &stderrRead)) {
        const uint32_t error = GetLastError();
        SetStdHandle(STD_OUTPUT_HANDLE, savedStdout);
        SetStdHandle(STD_ERROR_HANDLE, savedStderr);
        // Inheritable write ends left open would reach any process started meanwhile.
        closeWriteEnds();
        return error ? error : kNotExecuted;
    }

    uint32_t stdoutStarted = 0;
    uint32_t stderrStarted = 0;
    startReader(&stdoutReader_, stdoutBlock_, stdoutRead, &stdoutStarted);
    startReader(&stderrReader_, stderrBlock_, stderrRead, &stderrStarted);

    const bool created = createChild();
    if (wait) {
        if (waitForChild(timeout_) != WAIT_OBJECT_0) wakeReaders();
        closeWriteEnds();
    }
    executed_ = true;
    if (!created) {
        wakeReaders();
        closeWriteEnds();
        finishReaders(kDrainGrace);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, savedStdout);
    SetStdHandle(STD_ERROR_HANDLE, savedStderr);
    return stderrStarted;
}

uint32_t InstallProcess::waitForExitCode(uint32_t* exitCode, uint32_t timeout) {
    timeout_ = timeout;
    const bool ended = waitForChild(timeout) == WAIT_OBJECT_0;
    if (!ended) wakeReaders();
    closeWriteEnds();
    if (!executed_) return kNotExecuted;
    DWORD code = 0;
    const BOOL known = GetExitCodeProcess(processInfo_.hProcess, &code);
    const bool readersInTime = finishReaders(kDrainGrace);
    if (!known) return kNoChild;
    if (exitCode) *exitCode = code;
    if (endedAtLimit_) {
        report(URE_LOG_ERROR, 40, kTimedOut, true);
        return kTimedOut;
    }
    // The child has ended, yet something it started still writes to (or holds) its
    // pipes: that is not worth an installation that never ends.
    if (ended && !readersInTime) report(URE_LOG_WARNING, 30, 7101, false);
    return 0;
}

const char* InstallProcess::finishedStdout() {
    finishReader(&stdoutReader_, stdoutBlock_, &stdoutText_, kDrainGrace);
    return stdoutText_;
}

const char* InstallProcess::finishedStderr() {
    finishReader(&stderrReader_, stderrBlock_, &stderrText_, kDrainGrace);
    return stderrText_;
}

void InstallProcess::traceStdout(const char* functionName, uint32_t flags) {
    const char* text = finishedStdout();
    if (text && *text) ureReportText(flags | kTraceFlag, functionName, 997, 0, text, false);
}

void InstallProcess::traceStderr(const char* functionName, uint32_t flags) {
    const char* text = finishedStderr();
    if (text && *text) ureReportText(flags | kTraceFlag, functionName, 999, 0, text, false);
}

void InstallProcess::traceOutput(const char* functionName, uint32_t flags) {
    traceStdout(functionName, flags);
    traceStderr(functionName, flags);
}

uint32_t InstallProcess::getStdout(char* buffer, size_t capacity) { return copyOut(finishedStdout(), buffer, capacity); }
uint32_t InstallProcess::getStderr(char* buffer, size_t capacity) { return copyOut(finishedStderr(), buffer, capacity); }
size_t InstallProcess::getStdoutLength() { return fa9::textLength(finishedStdout()); }
size_t InstallProcess::getStderrLength() { return fa9::textLength(finishedStderr()); }

uint32_t runCommand(InstallProcess& runner, const char* command, uint32_t* exitCode, uint32_t limitSeconds) {
    runner.setCommand(command);
    runner.setTimeLimit(limitSeconds);
    runner.execute(true, false);
    return runner.waitForExitCode(exitCode, INFINITE);
}

uint32_t programTimeLimit(MSIHANDLE hInstall) {
    char value[32] = {};
    DWORD capacity = sizeof(value);
    if (iMsiGetProperty(hInstall, "FA9_PROGRAM_TIMEOUT", value, &capacity) != ERROR_SUCCESS || !value[0])
        return kDefaultLimitSeconds;
    // Digits only: anything else is no number of seconds, and the default stands.
    uint64_t seconds = 0;
    for (const char* p = value; *p; ++p) {
        if (*p < '0' || *p > '9') return kDefaultLimitSeconds;
        if (seconds < 0xFFFFFFFFu) seconds = seconds * 10 + static_cast<uint64_t>(*p - '0');
    }
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
}

bool appendQuoted(char* out, size_t capacity, const char* value) {
    if (!out || !value || std::strchr(value, '"')) return false;
    size_t trailing = 0;
    for (size_t n = std::strlen(value); n > trailing && value[n - 1 - trailing] == '\\';) ++trailing;
    bool fits = fa9::appendText(out, capacity, "\"") && fa9::appendText(out, capacity, value);
    // The C runtime reads 2n backslashes before a quote as n: double the trailing ones.
    for (size_t i = 0; i < trailing && fits; ++i) fits = fa9::appendText(out, capacity, "\\");
    return fits && fa9::appendText(out, capacity, "\"");
}

bool isProgramFolder(const char* folder, size_t nameLength) {
    if (!folder) return false;
    const size_t n = std::strlen(folder);
    const bool drive = n >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
                       (folder[2] == '\\' || folder[2] == '/');
    const bool share = n >= 3 && (folder[0] == '\\' || folder[0] == '/') && (folder[1] == '\\' || folder[1] == '/') &&
                       folder[2] != '\\' && folder[2] != '/';
    return (drive || share) && n + nameLength <= kMaxPath;
}

bool joinCommand(char* out, size_t capacity, std::initializer_list<const char*> parts) {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    bool fits = true;
    for (const char* part : parts) fits = fits && fa9::appendText(out, capacity, part);
    if (!fits && capacity > 4) {
        const size_t keep = std::strlen(out) < capacity - 4 ? std::strlen(out) : capacity - 4;
        out[keep] = '\0';
        fa9::appendText(out, capacity, "...");
    }
    return fits;
}

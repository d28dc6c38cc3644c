#include "process/install_process.h"

#include "frame/bounded.h"
#include "frame/msg_token_holder.h"
#include "frame/ure.h"
#include "frame/ure_info.h"

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
const DWORD kReadChunk = 512;
const size_t kInitialTextCapacity = 1024;

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

// What a reader thread is handed: where its text goes, what it reads, when to stop.
struct ReaderBlock {
    char** slot;
    HANDLE readEnd;
    std::atomic<unsigned char>* stop;
};

// Drains one pipe into a growing heap text until the pipe breaks (every write end is
// closed) or the runner asks the reader to stop.
unsigned readPipeThread(void* param) {
    auto* block = static_cast<ReaderBlock*>(param);
    size_t capacity = kInitialTextCapacity;
    size_t length = 0;
    char* text = static_cast<char*>(std::malloc(capacity));
    *block->slot = text;
    while (text) {
        char chunk[kReadChunk];
        DWORD got = 0;
        if (!ReadFile(block->readEnd, chunk, kReadChunk, &got, nullptr) || got == 0) break;
        if (block->stop && block->stop->load() == 1) break;
        if (length + got + 1 > capacity) {
            // realloc moves a large block's pages instead of copying them and touching new ones.
            char* grown = static_cast<char*>(std::realloc(text, capacity * 2));
            if (!grown) break;  // keep what was read so far
            text = grown;
            capacity *= 2;
            *block->slot = text;
        }
        std::memcpy(text + length, chunk, got);
        length += got;
    }
    if (text) text[length] = '\0';
    // The read end is needed by nobody else once its reader is done.
    CloseHandle(block->readEnd);
    std::free(block);
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

}  // namespace

uint32_t InstallProcess::buildCommandLine(const char* command, char* out, size_t capacity) {
    if (!out || capacity == 0) return kDoesNotFit;
    out[0] = '\0';
    if (!command) return kNoExtension;
    // The first extension of this list found anywhere decides, not the leftmost one.
    static const char* const kExtensions[] = {".exe", ".bat", ".com", ".cmd"};
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
    delete stopFlag_;
    std::free(stdoutText_);
    std::free(stderrText_);
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
    executed_ = false;
    std::free(stdoutText_);
    std::free(stderrText_);
    stdoutText_ = nullptr;
    stderrText_ = nullptr;
    buildCommandLine(command, commandLine_, kCommandCapacity);
}

void InstallProcess::wakeReaders() {
    if (stopFlag_) stopFlag_->store(1);
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

// Readers still running here belong to a run nobody waited for: stop them rather
// than wait on a pipe this object itself keeps open.
void InstallProcess::finishReaders() {
    if (!stdoutReader_.handle && !stderrReader_.handle) return;
    wakeReaders();
    closeWriteEnds();
    ureJoinThread(&stdoutReader_);
    ureJoinThread(&stderrReader_);
}

void InstallProcess::releaseRun() {
    finishReaders();
    closeHandle(processInfo_.hProcess);
    closeHandle(processInfo_.hThread);
    processInfo_ = {};
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

void InstallProcess::startReader(UREThread* record, char** slot, HANDLE readEnd, uint32_t* result) {
    *record = {};
    auto* block = static_cast<ReaderBlock*>(std::malloc(sizeof(ReaderBlock)));
    if (!block) {
        // Like a reader that cannot start, but the runner itself reports nothing: the
        // stream's text stays null and the run goes on.
        CloseHandle(readEnd);
        *result = 5002;
        return;
    }
    block->slot = slot;
    block->readEnd = readEnd;
    block->stop = stopFlag_;
    *result = ureCreateThread(readPipeThread, block, record);
    if (*result != 0) {
        // The stream's text stays null; the run goes on without it.
        std::free(block);
        CloseHandle(readEnd);
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
    if (!CreateProcessA(nullptr, commandLine_, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        workingDirectory_, &startup, &processInfo_)) {
        processInfo_ = {};
        return false;
    }
    // Only the process handle is ever waited on.
    closeHandle(processInfo_.hThread);
    return true;
}

uint32_t InstallProcess::execute(bool wait, bool trace) {
    if (trace) {
        MsgTokenHolder tokens(commandLine_);
        ureReport(kTraceFlag, "InstallProcess::execute", 18, 0, 1038, &tokens, 0, true);
    }
    releaseRun();
    executed_ = false;
    // A second run of the same command starts with empty texts, as after setCommand.
    std::free(stdoutText_);
    std::free(stderrText_);
    stdoutText_ = nullptr;
    stderrText_ = nullptr;
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

    delete stopFlag_;
    stopFlag_ = new (std::nothrow) std::atomic<unsigned char>(0);
    uint32_t stdoutStarted = 0;
    uint32_t stderrStarted = 0;
    startReader(&stdoutReader_, &stdoutText_, stdoutRead, &stdoutStarted);
    startReader(&stderrReader_, &stderrText_, stderrRead, &stderrStarted);

    const bool created = createChild();
    if (wait) {
        if (WaitForSingleObject(processInfo_.hProcess, timeout_) != WAIT_OBJECT_0) wakeReaders();
        closeWriteEnds();
    }
    executed_ = true;
    if (!created) {
        wakeReaders();
        closeWriteEnds();
        ureJoinThread(&stdoutReader_);
        ureJoinThread(&stderrReader_);
    }
    SetStdHandle(STD_OUTPUT_HANDLE, savedStdout);
    SetStdHandle(STD_ERROR_HANDLE, savedStderr);
    return stderrStarted;
}

uint32_t InstallProcess::waitForExitCode(uint32_t* exitCode, uint32_t timeout) {
    timeout_ = timeout;
    if (WaitForSingleObject(processInfo_.hProcess, timeout) != WAIT_OBJECT_0) wakeReaders();
    closeWriteEnds();
    if (!executed_) return kNotExecuted;
    DWORD code = 0;
    const BOOL known = GetExitCodeProcess(processInfo_.hProcess, &code);
    ureJoinThread(&stderrReader_);
    ureJoinThread(&stdoutReader_);
    if (!known) return kNoChild;
    if (exitCode) *exitCode = code;
    return 0;
}

void InstallProcess::traceStdout(const char* functionName, uint32_t flags) {
    ureJoinThread(&stdoutReader_);
    if (stdoutText_ && *stdoutText_) ureReportText(flags | kTraceFlag, functionName, 997, 0, stdoutText_, false);
}

void InstallProcess::traceStderr(const char* functionName, uint32_t flags) {
    ureJoinThread(&stderrReader_);
    if (stderrText_ && *stderrText_) ureReportText(flags | kTraceFlag, functionName, 999, 0, stderrText_, false);
}

void InstallProcess::traceOutput(const char* functionName, uint32_t flags) {
    traceStdout(functionName, flags);
    traceStderr(functionName, flags);
}

uint32_t InstallProcess::getStdout(char* buffer, size_t capacity) {
    ureJoinThread(&stdoutReader_);
    return copyOut(stdoutText_, buffer, capacity);
}

uint32_t InstallProcess::getStderr(char* buffer, size_t capacity) {
    ureJoinThread(&stderrReader_);
    return copyOut(stderrText_, buffer, capacity);
}

size_t InstallProcess::getStdoutLength() {
    ureJoinThread(&stdoutReader_);
    return stdoutText_ ? std::strlen(stdoutText_) : 0;
}

size_t InstallProcess::getStderrLength() {
    ureJoinThread(&stderrReader_);
    return stderrText_ ? std::strlen(stderrText_) : 0;
}

uint32_t runCommand(InstallProcess& runner, const char* command, uint32_t* exitCode) {
    runner.setCommand(command);
    runner.execute(true, false);
    return runner.waitForExitCode(exitCode, INFINITE);
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

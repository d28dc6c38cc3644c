// Pipes, standard handles, child processes, jobs and threads. All of them are real: a pipe is
// a host pipe, a child is a host process started with posix_spawn (so a stand-in
// program is a host executable placed in the machine's file system), a thread is a
// host thread, a job is the process groups of its members. What is simulated is the
// Windows face: handles and their inheritance, the command line split by the C
// runtime's rules, the program search, exit codes, cancelled reads.
#include "kernel_handles.h"
#include "paths.h"
#include "winsim/control.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <unistd.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace winsim {

namespace {

// A write into a pipe whose readers are gone must fail with an error, as on Windows,
// not kill the process.
void ignoreBrokenPipeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

struct ThreadState {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    DWORD exitCode = STILL_ACTIVE;
    // Synchronous I/O another thread may cancel: set while the thread waits in a read,
    // and the descriptor CancelSynchronousIo signals to end that wait.
    std::mutex io;
    bool inIo = false;
    int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~ThreadState() {
        if (cancelFd >= 0) ::close(cancelFd);
    }
};

// The state of the calling thread when it was started through this module, else null.
thread_local ThreadState* t_thread = nullptr;

// Waits until `fd` can be read without blocking. False when CancelSynchronousIo ended
// the wait first; a read whose data is already there completes as on Windows.
bool waitReadable(int fd) {
    ThreadState* self = t_thread;
    if (!self || self->cancelFd < 0) return true;
    {
        std::lock_guard<std::mutex> g(self->io);
        self->inIo = true;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {self->cancelFd, POLLIN, 0}};
    int r;
    do r = ::poll(p, 2, -1);
    while (r < 0 && errno == EINTR);
    std::lock_guard<std::mutex> g(self->io);
    self->inIo = false;
    uint64_t pending = 0;
    const bool cancelled = ::read(self->cancelFd, &pending, sizeof pending) == sizeof pending;
    return !cancelled || p[0].revents != 0;
}

struct PipeEnd : FileObject {
    BOOL read(LPVOID data, DWORD n, LPDWORD got) override {
        if (!waitReadable(fd)) {
            if (got) *got = 0;
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
        ssize_t r;
        do r = ::read(fd, data, n);
        while (r < 0 && errno == EINTR);
        if (r < 0 || (r == 0 && n > 0)) {
            // Every write end is closed: Windows reports the pipe as broken.
            SetLastError(ERROR_BROKEN_PIPE);
            return FALSE;
        }
        if (got) *got = static_cast<DWORD>(r);
        return TRUE;
    }
    BOOL write(LPCVOID data, DWORD n, LPDWORD written) override {
        // A blocking pipe write on Windows returns when all bytes are in the pipe.
        const char* p = static_cast<const char*>(data);
        DWORD done = 0;
        while (done < n) {
            ssize_t r = ::write(fd, p + done, n - done);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                SetLastError(errno == EPIPE ? ERROR_NO_DATA : ERROR_ACCESS_DENIED);
                return FALSE;
            }
            done += static_cast<DWORD>(r);
        }
        if (written) *written = done;
        return TRUE;
    }
};

std::atomic<DWORD> g_nextId{0x1000};

DWORD nextId() { return g_nextId.fetch_add(4); }

struct ProcessObject : KernelObject {
    pid_t pid = -1;  // also its process group: what a job holds of it
    DWORD id = 0;
    std::mutex m;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    std::atomic<bool> suspended{false};
    // Set when TerminateJobObject or TerminateProcess ended it: its exit code.
    std::atomic<bool> terminated{false};
    std::atomic<DWORD> terminationCode{0};

    ~ProcessObject() override {
        if (!ended) reap(false);
    }
    // True once the child has ended and its exit code is known.
    bool reap(bool block) {
        std::lock_guard<std::mutex> g(m);
        if (ended) return true;
        int status = 0;
        pid_t r;
        do r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        while (r < 0 && errno == EINTR);
        if (r == pid) {
            ended = true;
            // A host signal has no Windows counterpart; report it as an NTSTATUS-like code.
            exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                       : terminated && WTERMSIG(status) == SIGKILL
                           ? terminationCode.load()
                           : 0xC0000000u | static_cast<DWORD>(WTERMSIG(status));
        } else if (r < 0) {
            ended = true;
            exitCode = 0;
        }
        return ended;
    }
    DWORD wait(DWORD ms) override {
        if (ms == INFINITE) {
            // Block without the lock (a concurrent GetExitCodeProcess must answer at
            // once), leaving the child to be reaped under it.
            siginfo_t info;
            while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            reap(true);
            return WAIT_OBJECT_0;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!reap(false)) {
            if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return WAIT_OBJECT_0;
    }
};

// The primary thread of a child: signalled when the child ends.
struct ProcessThreadObject : KernelObject {
    std::shared_ptr<ProcessObject> process;
    DWORD wait(DWORD ms) override { return process->wait(ms); }
};

// A job: the process groups of the processes assigned to it. Every process a member
// starts stays in its group, so it belongs to the job as on Windows.
struct JobObject : KernelObject {
    std::mutex m;
    std::vector<std::weak_ptr<ProcessObject>> members;
};

void endProcessTree(ProcessObject& p, DWORD code, bool wholeGroup) {
    if (!p.terminated.exchange(true)) p.terminationCode = code;
    if (wholeGroup)
        ::killpg(p.pid, SIGKILL);
    else
        ::kill(p.pid, SIGKILL);
}

struct ThreadObject : KernelObject {
    std::shared_ptr<ThreadState> state;
    DWORD wait(DWORD ms) override {
        std::unique_lock<std::mutex> g(state->m);
        if (ms == INFINITE)
            state->cv.wait(g, [this] { return state->done; });
        else
            state->cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return state->done; });
        return state->done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
};

HANDLE startThread(std::function<DWORD()> body, LPDWORD threadId) {
    if (Machine::current().threadsFail) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    object->state = std::make_shared<ThreadState>();
    try {
        std::thread([state = object->state, body = std::move(body)] {
            t_thread = state.get();
            DWORD code = body();
            t_thread = nullptr;
            {
                std::lock_guard<std::mutex> g(state->m);
                state->done = true;
                state->exitCode = code;
            }
            state->cv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = nextId();
    return allocKernelHandle(object);
}

int stdIndex(DWORD which) {
    switch (which) {
    case STD_INPUT_HANDLE: return 0;
    case STD_OUTPUT_HANDLE: return 1;
    case STD_ERROR_HANDLE: return 2;
    default: return -1;
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool hasExtension(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && equalsNoCase(s.substr(s.size() - n), suffix);
}

// The program a name leads to, searched the way CreateProcess searches: a name with a
// folder is taken as it is; a bare name is looked for beside the installer (System32, or
// SysWOW64 for a 32-bit process), in the current directory, System32, the Windows folder
// and the folders of PATH.
std::string findProgram(Machine& m, std::string name) {
    if (name.empty()) return std::string();
    if (!hasExtension(name)) name += ".exe";
    std::vector<std::string> candidates;
    if (name.find_first_of("\\/:") != std::string::npos) {
        candidates.push_back(m.fullPath(name));
    } else {
        const std::string installerFolder = m.wow64Process ? "C:\\Windows\\SysWOW64" : m.systemDirectory;
        std::vector<std::string> folders = {installerFolder, m.currentDirectory(), m.systemDirectory,
                                            "C:\\Windows"};
        auto path = m.environment.find("PATH");
        if (path != m.environment.end()) {
            size_t i = 0;
            const std::string& p = path->second;
            while (i <= p.size()) {
                size_t j = p.find(';', i);
                if (j == std::string::npos) j = p.size();
                if (j > i) folders.push_back(p.substr(i, j - i));
                i = j + 1;
            }
        }
        for (const std::string& folder : folders) candidates.push_back(m.fullPath(folder + "\\" + name));
    }
    for (const std::string& c : candidates) {
        m.noteFileSystemCall(c);
        if (m.fileExists(c)) return c;
    }
    return std::string();
}

// The names an unquoted command line may start with: each run of text up to a blank,
// shortest first ("C:\Program Files\x.exe /a" tries "C:\Program", then the whole path).
std::vector<std::string> programCandidates(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    if (start < line.size() && line[start] == '"') {
        size_t end = line.find('"', start + 1);
        out.push_back(line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
        return out;
    }
    for (size_t i = start; i <= line.size(); ++i)
        if (i == line.size() || isBlank(line[i]))
            if (i > start && (i == line.size() || !isBlank(line[i - 1]))) out.push_back(line.substr(start, i - start));
    return out;
}

struct SpawnFds {
    std::vector<int> owned;  // closed in the parent after the spawn
    ~SpawnFds() {
        for (int fd : owned) ::close(fd);
    }
    // A private copy of `fd` above the range the child's descriptors are placed in.
    int high(int fd) {
        int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 200);
        if (copy >= 0) owned.push_back(copy);
        return copy;
    }
};

DWORD spawnError(int err) {
    switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
    }
}

// The host descriptor a child gets for one of its standard handles; the null device
// when the handle cannot reach it (not given, not inheritable, or not a host object).
int childStdFd(SpawnFds& fds, HANDLE h, bool mustInherit) {
    std::shared_ptr<KernelObject> obj = h ? lookupKernelHandle(h) : nullptr;
    if (obj && obj->hostFd() >= 0 && (!mustInherit || isKernelHandleInheritable(h))) return fds.high(obj->hostFd());
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) return -1;
    int high = fds.high(null);
    ::close(null);
    return high;
}

std::vector<std::string> environmentOf(Machine& m, LPVOID block) {
    std::vector<std::string> env;
    if (block) {
        for (const char* p = static_cast<const char*>(block); *p; p += std::strlen(p) + 1) env.emplace_back(p);
    } else {
        for (const auto& [name, value] : m.environment) env.push_back(name + "=" + value);
    }
    // A host stand-in program finds the machine's drives through this.
    env.push_back("WINSIM_ROOT=" + m.hostRoot());
    return env;
}

bool readsAsPortableExecutable(const std::string& hostFile) {
    std::ifstream in(hostFile, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    return in.gcount() == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = line.size();
    // The program name: up to the first blank outside quotes; quotes only toggle, and
    // backslashes are plain characters.
    std::string first;
    bool inQuotes = false;
    while (i < n && (inQuotes || !isBlank(line[i]))) {
        if (line[i] == '"')
            inQuotes = !inQuotes;
        else
            first += line[i];
        ++i;
    }
    args.push_back(first);
    for (;;) {
        while (i < n && isBlank(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = line[i];
            if (isBlank(c) && !quoted) break;
            if (c == '\\') {
                size_t k = 0;
                while (i + k < n && line[i + k] == '\\') ++k;
                if (i + k < n && line[i + k] == '"') {
                    // 2n backslashes and a quote: n backslashes and a delimiter;
                    // 2n+1: n backslashes and a literal quote.
                    arg.append(k / 2, '\\');
                    i += k;
                    if (k % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(k, '\\');
                    i += k;
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';  // a doubled quote inside quotes stands for itself
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}

std::vector<Machine::ProcessLaunch> Machine::launches() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return launches_;
}

void Machine::recordLaunch(ProcessLaunch launch) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    launches_.push_back(std::move(launch));
}

}  // namespace winsim

using namespace winsim;

extern "C" {

BOOL WINAPI CreatePipe(LPHANDLE hReadPipe, LPHANDLE hWritePipe, LPSECURITY_ATTRIBUTES lpPipeAttributes, DWORD nSize) {
    if (!hReadPipe || !hWritePipe) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ignoreBrokenPipeSignal();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    // Windows' default pipe buffer is a few kilobytes, far less than the host's.
    ::fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(nSize > 0 ? nSize : 4096));
    const bool inherit = lpPipeAttributes && lpPipeAttributes->bInheritHandle;
    auto readEnd = std::make_shared<PipeEnd>();
    readEnd->fd = fds[0];
    auto writeEnd = std::make_shared<PipeEnd>();
    writeEnd->fd = fds[1];
    *hReadPipe = allocKernelHandle(readEnd, inherit);
    *hWritePipe = allocKernelHandle(writeEnd, inherit);
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    int i = stdIndex(nStdHandle);
    if (i < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return Machine::current().standardHandles[i];
}

BOOL WINAPI SetStdHandle(DWORD nStdHandle, HANDLE hHandle) {
    int i = stdIndex(nStdHandle);
    if (i < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Machine::current().standardHandles[i] = hHandle;
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

// The host process's id: every simulated action runs in it.
DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                            LPHANDLE lpTargetHandle, DWORD, BOOL bInheritHandle, DWORD dwOptions) {
    // Only handles of this process can be duplicated here.
    if (hSourceProcessHandle != GetCurrentProcess() || hTargetProcessHandle != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<KernelObject> obj = (dwOptions & DUPLICATE_CLOSE_SOURCE) ? releaseKernelHandle(hSourceHandle)
                                                                            : lookupKernelHandle(hSourceHandle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpTargetHandle) *lpTargetHandle = allocKernelHandle(obj, bInheritHandle != FALSE);
    return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    Machine& m = Machine::current();
    if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string line = lpCommandLine ? lpCommandLine : "";
    if (m.onProcessStart) m.onProcessStart(line);
    std::string program;
    if (lpApplicationName) {
        // No search and no default extension for an explicit program.
        m.noteFileSystemCall(lpApplicationName);
        if (m.fileExists(lpApplicationName)) program = m.fullPath(lpApplicationName);
    } else {
        for (const std::string& name : programCandidates(line)) {
            program = findProgram(m, name);
            if (!program.empty()) break;
        }
    }
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string cwd = m.currentDirectory();
    if (lpCurrentDirectory) {
        m.noteFileSystemCall(lpCurrentDirectory);
        if (!m.dirExists(lpCurrentDirectory)) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
        cwd = m.fullPath(lpCurrentDirectory);
    }
    const std::string hostProgram = m.hostPath(program);
    const bool batch = endsWithNoCase(program, ".bat") || endsWithNoCase(program, ".cmd");
    if (!batch && readsAsPortableExecutable(hostProgram)) {
        // A Windows program cannot run on this host: a stand-in must be a host executable.
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return FALSE;
    }

    // Windows has no execute permission bit: any file of the right format runs.
    std::error_code ec;
    fs::permissions(hostProgram, fs::perms::owner_exec, fs::perm_options::add, ec);

    std::vector<std::string> arguments = splitCommandLine(line.empty() ? program : line);
    // The batch language is not simulated: a test batch file holds host shell commands.
    std::vector<std::string> argv = arguments;
    std::string file = hostProgram;
    if (batch) {
        argv.insert(argv.begin(), "/bin/sh");
        argv[1] = hostProgram;
        file = "/bin/sh";
    }

    SpawnFds fds;
    const bool useStd = lpStartupInfo->dwFlags & STARTF_USESTDHANDLES;
    const HANDLE given[3] = {useStd ? lpStartupInfo->hStdInput : m.standardHandles[0],
                             useStd ? lpStartupInfo->hStdOutput : m.standardHandles[1],
                             useStd ? lpStartupInfo->hStdError : m.standardHandles[2]};
    // Handles given in the startup information reach the child only when they are
    // inheritable and inheritance is on; otherwise it inherits the process's own.
    int stdFds[3];
    for (int i = 0; i < 3; ++i)
        stdFds[i] = useStd ? childStdFd(fds, bInheritHandles ? given[i] : nullptr, true)
                           : childStdFd(fds, given[i], false);
    // Every inheritable handle stays open in the child, as on Windows, even where the
    // child does not know its number.
    std::vector<int> inherited;
    if (bInheritHandles)
        for (const auto& obj : inheritableKernelObjects())
            if (obj->hostFd() >= 0 && inherited.size() < 150) inherited.push_back(fds.high(obj->hostFd()));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; ++i)
        if (stdFds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, stdFds[i], i);
    for (size_t i = 0; i < inherited.size(); ++i)
        if (inherited[i] >= 0) posix_spawn_file_actions_adddup2(&actions, inherited[i], static_cast<int>(3 + i));
    const std::string hostCwd = m.hostPath(cwd);
    posix_spawn_file_actions_addchdir_np(&actions, hostCwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    // Each child leads a process group of its own, which a job object then stands for.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = environmentOf(m, lpEnvironment);
    std::vector<char*> cenv;
    for (std::string& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    pid_t pid = -1;
    int err = ::posix_spawn(&pid, file.c_str(), &actions, &attr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        SetLastError(spawnError(err));
        return FALSE;
    }
    auto process = std::make_shared<ProcessObject>();
    process->pid = pid;
    process->id = nextId();
    if (dwCreationFlags & CREATE_SUSPENDED) {
        // A host process cannot be created stopped: it is stopped as soon as it exists.
        // Its process group is set before it runs, so nothing it starts escapes a job.
        ::kill(pid, SIGSTOP);
        process->suspended = true;
    }
    auto thread = std::make_shared<ProcessThreadObject>();
    thread->process = process;
    lpProcessInformation->hProcess = allocKernelHandle(process);
    lpProcessInformation->hThread = allocKernelHandle(thread);
    lpProcessInformation->dwProcessId = process->id;
    lpProcessInformation->dwThreadId = nextId();
    m.recordLaunch({line, program, arguments, cwd});
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto obj = lookupKernelHandle(hHandle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return obj->wait(dwMilliseconds);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    auto process = std::dynamic_pointer_cast<ProcessObject>(lookupKernelHandle(hProcess));
    if (!process || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    process->reap(false);
    std::lock_guard<std::mutex> g(process->m);
    *lpExitCode = process->exitCode;
    return TRUE;
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
    auto obj = lookupKernelHandle(hThread);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    auto primary = std::dynamic_pointer_cast<ProcessThreadObject>(obj);
    if (!primary || !primary->process->suspended.exchange(false)) return 0;  // was not suspended
    // Continue it only once the stop has taken effect (or it has ended already).
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(primary->process->pid), &info, WSTOPPED | WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    ::kill(primary->process->pid, SIGCONT);
    return 1;
}

BOOL WINAPI CancelSynchronousIo(HANDLE hThread) {
    auto thread = std::dynamic_pointer_cast<ThreadObject>(lookupKernelHandle(hThread));
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ThreadState& state = *thread->state;
    std::lock_guard<std::mutex> g(state.io);
    if (!state.inIo || state.cancelFd < 0) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    const uint64_t one = 1;
    if (::write(state.cancelFd, &one, sizeof one) != sizeof one) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI CreateJobObjectA(LPSECURITY_ATTRIBUTES lpJobAttributes, LPCSTR lpName) {
    if (lpName) {
        // Named jobs are not needed here.
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return allocKernelHandle(std::make_shared<JobObject>(), lpJobAttributes && lpJobAttributes->bInheritHandle);
}

BOOL WINAPI AssignProcessToJobObject(HANDLE hJob, HANDLE hProcess) {
    auto job = std::dynamic_pointer_cast<JobObject>(lookupKernelHandle(hJob));
    auto process = std::dynamic_pointer_cast<ProcessObject>(lookupKernelHandle(hProcess));
    if (!job || !process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (process->reap(false)) {
        // A process that has ended can no longer join a job.
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::lock_guard<std::mutex> g(job->m);
    job->members.push_back(process);
    return TRUE;
}

BOOL WINAPI TerminateJobObject(HANDLE hJob, UINT uExitCode) {
    auto job = std::dynamic_pointer_cast<JobObject>(lookupKernelHandle(hJob));
    if (!job) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> g(job->m);
    // Its group outlives a member that has ended while a process it started still runs.
    for (const auto& weak : job->members)
        if (auto process = weak.lock()) endProcessTree(*process, uExitCode, true);
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    auto process = std::dynamic_pointer_cast<ProcessObject>(lookupKernelHandle(hProcess));
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!process->reap(false)) endProcessTree(*process, uExitCode, false);
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD, LPDWORD lpThreadId) {
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return startThread([=] { return lpStartAddress(lpParameter); }, lpThreadId);
}

uintptr_t __cdecl _beginthreadex(void*, unsigned, unsigned(__stdcall* start_address)(void*), void* arglist, unsigned,
                                 unsigned* thrdaddr) {
    if (!start_address) {
        errno = EINVAL;
        return 0;
    }
    DWORD id = 0;
    HANDLE h = startThread([=] { return static_cast<DWORD>(start_address(arglist)); }, &id);
    if (!h) errno = EAGAIN;
    if (thrdaddr) *thrdaddr = id;
    return reinterpret_cast<uintptr_t>(h);
}

}  // extern "C"

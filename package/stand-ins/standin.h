/* What the stand-in programs share: where they keep their records, how a scenario
 * chooses their exit code, and output on both streams.
 *
 * They build for Windows (mingw, shipped in the test package and run by Wine) and for
 * the host, where the simulated Windows runs them as host programs and tells them the
 * host folder of its drives in WINSIM_ROOT. Either way they work on Windows paths:
 *
 *   C:\ProgramData\FA9StandIns\<file>   records of what the programs did
 *   C:\ProgramData\FA9StandIns\<program>.path   the PATH the last run of a program saw
 *   C:\ProgramData\FA9StandIns\exitcodes.txt
 *       lines "<program> <first argument> <exit code>" (program and argument without
 *       regard to case): the program exits with that code instead of its own answer,
 *       and says so on standard error.
 *   C:\ProgramData\FA9StandIns\linger.txt
 *       lines "<program> <first argument> <seconds>": before it ends, the program leaves
 *       a copy of itself behind that holds its standard output and standard error open
 *       that long, as a service it started would.
 *   C:\ProgramData\FA9StandIns\kill.txt   (Windows only)
 *       lines "<program> <first argument> 0": the program ends every msiexec.exe process
 *       (the installation and its custom-action servers) while the custom action that
 *       started it is still running, as a deployment tool's time-out would.
 *   C:\ProgramData\FA9StandIns\<program>.parent   (Windows only) the program that
 *       started the last run, e.g. the custom-action server, and whether it and this
 *       program run under WOW64: "<parent>.exe parent-wow64=<0|1> self-wow64=<0|1>"
 *   C:\ProgramData\FA9StandIns\<program>.self   (Windows only) the file the last run
 *       of the program was started from
 */
#ifndef STANDIN_H
#define STANDIN_H

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#define STANDIN_STATE "C:\\ProgramData\\FA9StandIns"

static inline int standin_same(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return 0;
    return *a == *b;
}

/* The file a Windows path names on this system. */
static inline void standin_local(const char *winPath, char *out, size_t capacity) {
#ifdef _WIN32
    snprintf(out, capacity, "%s", winPath);
#else
    const char *root = getenv("WINSIM_ROOT");
    size_t n;
    snprintf(out, capacity, "%s/%c%s", root ? root : ".", winPath[0], winPath + 2);
    for (n = 0; out[n]; ++n)
        if (out[n] == '\\') out[n] = '/';
#endif
}

static inline int standin_is_folder(const char *winPath) {
    char local[1024];
    standin_local(winPath, local, sizeof local);
#ifdef _WIN32
    {
        DWORD a = GetFileAttributesA(local);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
#else
    {
        struct stat st;
        return stat(local, &st) == 0 && S_ISDIR(st.st_mode);
    }
#endif
}

static inline void standin_make_state_folder(void) {
    char local[1024];
    standin_local("C:\\ProgramData", local, sizeof local);
#ifdef _WIN32
    CreateDirectoryA(local, NULL);
#else
    mkdir(local, 0777);
#endif
    standin_local(STANDIN_STATE, local, sizeof local);
#ifdef _WIN32
    CreateDirectoryA(local, NULL);
#else
    mkdir(local, 0777);
#endif
}

/* Opens a record file of the state folder ("w" replaces, "a" appends). */
static inline FILE *standin_record(const char *name, const char *mode) {
    char win[512], local[1024];
    standin_make_state_folder();
    snprintf(win, sizeof win, "%s\\%s", STANDIN_STATE, name);
    standin_local(win, local, sizeof local);
    return fopen(local, mode);
}

static inline void standin_forget(const char *name) {
    char win[512], local[1024];
    snprintf(win, sizeof win, "%s\\%s", STANDIN_STATE, name);
    standin_local(win, local, sizeof local);
    remove(local);
}

/* Records the PATH this run inherited, as one line. */
static inline void standin_note_path(const char *program) {
    char name[128];
    FILE *f;
    const char *path = getenv("PATH");
    snprintf(name, sizeof name, "%s.path", program);
    f = standin_record(name, "w");
    if (!f) return;
    fprintf(f, "%s\n", path ? path : "");
    fclose(f);
}

#ifdef _WIN32
/* 1 when `process` runs under WOW64 (a 32-bit process on 64-bit Windows), 0 when not,
 * -1 when it cannot be told. */
static inline int standin_wow64(HANDLE process) {
    BOOL wow64 = FALSE;
    return process && IsWow64Process(process, &wow64) ? (wow64 != 0) : -1;
}
#endif

/* Records which program started this one and the bitness of both (see above). */
static inline void standin_note_parent(const char *program) {
#ifdef _WIN32
    PROCESSENTRY32 entry;
    DWORD self = GetCurrentProcessId(), parent = 0;
    char name[128], parentName[MAX_PATH] = "?";
    HANDLE process;
    int parentWow64;
    FILE *f;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && parent; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == parent) snprintf(parentName, sizeof parentName, "%s", entry.szExeFile);
    CloseHandle(snapshot);
    process = parent ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent) : NULL;
    parentWow64 = standin_wow64(process);
    if (process) CloseHandle(process);
    snprintf(name, sizeof name, "%s.parent", program);
    f = standin_record(name, "w");
    if (!f) return;
    fprintf(f, "%s parent-wow64=%d self-wow64=%d\n", parentName, parentWow64, standin_wow64(GetCurrentProcess()));
    fclose(f);
#else
    (void)program;
#endif
}

/* Records the file this run was started from (see above). */
static inline void standin_note_self(const char *program) {
#ifdef _WIN32
    char name[128], self[MAX_PATH] = "?";
    FILE *f;
    GetModuleFileNameA(NULL, self, sizeof self);
    snprintf(name, sizeof name, "%s.self", program);
    f = standin_record(name, "w");
    if (!f) return;
    fprintf(f, "%s\n", self);
    fclose(f);
#else
    (void)program;
#endif
}

/* The number that the control file `name` (lines "<program> <first argument> <number>",
 * program and argument without regard to case) gives this program and first argument,
 * with the argument as the file writes it in `arg` (256 characters); 0 when it gives none. */
static inline int standin_chosen(const char *name, const char *program, const char *argument, int *number,
                                 char *arg) {
    char line[512];
    FILE *f;
    char win[512], local[1024];
    snprintf(win, sizeof win, "%s\\%s", STANDIN_STATE, name);
    standin_local(win, local, sizeof local);
    f = fopen(local, "r");
    if (!f) return 0;
    while (fgets(line, sizeof line, f)) {
        char prog[128];
        if (sscanf(line, "%127s %255s %d", prog, arg, number) == 3 && standin_same(prog, program) &&
            standin_same(arg, argument ? argument : "")) {
            fclose(f);
            return 1;
        }
    }
    fclose(f);
    return 0;
}

/* Ends every msiexec.exe process but this one's own. */
static inline void standin_end_installer(void) {
#ifdef _WIN32
    PROCESSENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    entry.dwSize = sizeof entry;
    if (Process32First(snapshot, &entry)) {
        do {
            if (standin_same(entry.szExeFile, "msiexec.exe") && entry.th32ProcessID != GetCurrentProcessId()) {
                HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
                if (process) {
                    TerminateProcess(process, 4242);
                    CloseHandle(process);
                }
            }
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
#endif
}

/* The exit code a scenario chose for this program and first argument, else `natural`. */
static inline int standin_exit_code(const char *program, const char *argument, int natural) {
    char arg[256];
    int code;
    if (standin_chosen("kill.txt", program, argument, &code, arg)) standin_end_installer();
    if (!standin_chosen("exitcodes.txt", program, argument, &code, arg)) return natural;
    fprintf(stderr, "%s: exit code %d chosen for %s\n", program, code, arg);
    return code;
}

/* The seconds linger.txt gives this program and first argument, else -1. */
static inline int standin_linger_seconds(const char *program, const char *argument) {
    char arg[256];
    int seconds;
    return standin_chosen("linger.txt", program, argument, &seconds, arg) ? seconds : -1;
}

/* True in the copy left behind by standin_linger, once it has held the output long enough. */
static inline int standin_is_lingering(int argc, char **argv) {
    if (argc < 3 || strcmp(argv[1], "--linger") != 0) return 0;
#ifdef _WIN32
    Sleep((DWORD)atoi(argv[2]) * 1000);
#else
    sleep((unsigned)atoi(argv[2]));
#endif
    return 1;
}

/* Leaves a copy behind that holds both output streams, when linger.txt asks for it. */
static inline void standin_linger(const char *program, const char *argument) {
    int seconds = standin_linger_seconds(program, argument);
    if (seconds < 0) return;
    fflush(stdout);
    fflush(stderr);
#ifdef _WIN32
    {
        char self[MAX_PATH], command[MAX_PATH + 64];
        STARTUPINFOA si;
        PROCESS_INFORMATION pi;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        GetModuleFileNameA(NULL, self, sizeof self);
        snprintf(command, sizeof command, "\"%s\" --linger %d", self, seconds);
        if (CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
#else
    if (fork() == 0) {
        sleep((unsigned)seconds);
        _exit(0);
    }
#endif
}

#endif

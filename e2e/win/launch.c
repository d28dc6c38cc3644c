/* Runs one command line inside Wine, waits for it and writes its exit code, in
 * decimal, to a file: wine64's own exit status keeps only the low 8 bits, so 1603
 * would arrive as 67.
 *   e2e-launch.exe <exit-code-file> <command line...>
 * The command line after the file name is passed on exactly as written. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

/* Skips one argument of a Windows command line (quotes and all) and the blanks after it. */
static const wchar_t *skip_argument(const wchar_t *p) {
    int quoted = 0;
    while (*p == L' ' || *p == L'\t') ++p;
    for (; *p; ++p) {
        if (*p == L'"') quoted = !quoted;
        else if (!quoted && (*p == L' ' || *p == L'\t')) break;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: e2e-launch.exe <exit-code-file> <command line...>\n");
        return 2;
    }
    const wchar_t *rest = skip_argument(skip_argument(GetCommandLineW()));
    size_t len = wcslen(rest);
    wchar_t *command = (wchar_t *)calloc(len + 1, sizeof(wchar_t));  /* CreateProcessW may write into it */
    if (!command) return 3;
    wmemcpy(command, rest, len);

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    ZeroMemory(&pi, sizeof pi);
    DWORD code;
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        fwprintf(stderr, L"e2e-launch: CreateProcess failed (%lu): %ls\n", GetLastError(), command);
        code = 0xFFFFFFFFu;
    } else {
        WaitForSingleObject(pi.hProcess, INFINITE);
        if (!GetExitCodeProcess(pi.hProcess, &code)) code = 0xFFFFFFFEu;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    FILE *out = _wfopen(argv[1], L"w");
    if (!out) {
        fwprintf(stderr, L"e2e-launch: cannot write %ls\n", argv[1]);
        return 4;
    }
    fprintf(out, "%lu\n", (unsigned long)code);
    fclose(out);
    free(command);
    return (int)(code & 0xFF);
}

